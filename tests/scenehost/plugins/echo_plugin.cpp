// Test plug-in: "echo" returns its arguments as "kind:value|kind:value|...",
// "quietfail" fails without logging anything, "userpath" returns the host
// folder. Built twice: as EchoPlugin
// and, under another plug-in name, as EchoTwin, whose commands collide.
#include <string>

#include <xsi_plugin.h>

using namespace XSI;

#ifndef ECHO_PLUGIN_NAME
#define ECHO_PLUGIN_NAME L"EchoPlugin"
#endif

namespace {
int initCalls = 0;

CString Number(int n) { return CString(std::to_wstring(n)); }
}  // namespace

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  in_reg.PutAuthor(L"scenehost tests");
  in_reg.PutName(ECHO_PLUGIN_NAME);
  in_reg.PutVersion(1, 0);
  in_reg.RegisterCommand(L"echo", L"echo");
  in_reg.RegisterCommand(L"quietfail", L"quietfail");
  in_reg.RegisterCommand(L"userpath", L"userpath");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar& in_reg) {
  Application().LogMessage(in_reg.GetName() + L" has been unloaded.", siVerboseMsg);
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus echo_Init(CRef& in_ctxt) {
  ++initCalls;
  Application().LogMessage(L"echo_Init call " + Number(initCalls), siVerboseMsg);
  Context ctxt(in_ctxt);
  Command cmd(ctxt.GetSource());
  cmd.PutDescription(L"Returns its arguments as kind:value|...");
  cmd.EnableReturnValue(true);
  ArgumentArray args = cmd.GetArguments();
  args.Add(L"first");
  args.Add(L"second", CValue(7));
  args.Add(L"third", CValue(L"dflt"));
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus echo_Execute(CRef& in_ctxt) {
  Context ctxt(in_ctxt);
  CValueArray args = ctxt.GetAttribute(L"Arguments");
  Application().LogMessage(L"echo_Execute after " + Number(initCalls) + L" init call(s)",
                           siVerboseMsg);
  CString joined;
  for (long i = 0; i < args.GetCount(); ++i) {
    if (i > 0) joined += L"|";
    joined += CString(args[i].GetTypeName()) + L":" + args[i].GetAsText();
  }
  ctxt.PutAttribute(L"ReturnValue", joined);
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus quietfail_Init(CRef&) { return CStatus::OK; }
XSIPLUGINCALLBACK CStatus quietfail_Execute(CRef&) { return CStatus::Fail; }

XSIPLUGINCALLBACK CStatus userpath_Init(CRef&) { return CStatus::OK; }
XSIPLUGINCALLBACK CStatus userpath_Execute(CRef& in_ctxt) {
  Context(in_ctxt).PutAttribute(L"ReturnValue", Application().GetInstallationPath(siUserPath));
  return CStatus::OK;
}
