// Test plug-in with only the required exports: no XSIUnloadPlugin, and
// "bare" has no _Init, so it takes no arguments. "orphan" has both.
#include <xsi_plugin.h>

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  in_reg.PutName(L"NoUnload");
  in_reg.RegisterCommand(L"orphan", L"orphan");
  in_reg.RegisterCommand(L"bare", L"bare");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus orphan_Init(CRef& in_ctxt) {
  Command(Context(in_ctxt).GetSource()).GetArguments().Add(L"what", CValue(L"orphaned"));
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus orphan_Execute(CRef& in_ctxt) {
  Context ctxt(in_ctxt);
  CValueArray args = ctxt.GetAttribute(L"Arguments");
  ctxt.PutAttribute(L"ReturnValue", args[0]);
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus bare_Execute(CRef& in_ctxt) {
  Context ctxt(in_ctxt);
  CValueArray args = ctxt.GetAttribute(L"Arguments");
  ctxt.PutAttribute(L"ReturnValue", CString(L"bare with ") + CValue(args.GetCount()).GetAsText());
  return CStatus::OK;
}
