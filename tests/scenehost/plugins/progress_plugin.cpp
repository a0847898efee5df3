// Test plug-in: "progressloop total interruptAt interrupts checks" counts
// `total` steps on a ProgressBar. Before step `interruptAt` (1-based; 0 for
// never) it sends itself SIGINT `interrupts` times, as a user pressing
// Ctrl-C would. When `checks` is true it looks at IsCancelled before each
// step and returns CStatus::Abort once it is set; it made no change to the
// scene, so there is nothing to undo. Returns the steps done.
#include <signal.h>

#include <string>

#include <xsi_plugin.h>
#include <xsi_progress.h>

using namespace XSI;

namespace {
CString Number(long n) { return CString(std::to_wstring(n)); }
}  // namespace

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  in_reg.PutAuthor(L"scenehost tests");
  in_reg.PutName(L"ProgressPlugin");
  in_reg.PutVersion(1, 0);
  in_reg.RegisterCommand(L"progressloop", L"progressloop");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus progressloop_Init(CRef& in_ctxt) {
  Command cmd(Context(in_ctxt).GetSource());
  cmd.EnableReturnValue(true);
  ArgumentArray args = cmd.GetArguments();
  args.Add(L"total", CValue(10));
  args.Add(L"interruptAt", CValue(0));
  args.Add(L"interrupts", CValue(1));
  args.Add(L"checks", CValue(true));
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus progressloop_Execute(CRef& in_ctxt) {
  return GuardCallback(L"progressloop", [&]() -> CStatus {
    Context ctxt(in_ctxt);
    CValueArray args = ctxt.GetAttribute(L"Arguments");
    const long total = static_cast<long>(args[0]);
    const long interruptAt = static_cast<long>(args[1]);
    const long interrupts = static_cast<long>(args[2]);
    const bool checks = static_cast<bool>(args[3]);
    ProgressBar bar;
    CStatus st = bar.Start(total, L"progressloop " + Number(total));
    if (!st.Succeeded()) return st;
    long done = 0;
    for (long step = 1; step <= total; ++step) {
      if (step == interruptAt)
        for (long k = 0; k < interrupts; ++k) raise(SIGINT);
      if (checks && bar.IsCancelled()) return CStatus::Abort;
      bar.SetStatusText(L"step " + Number(step));
      bar.Increment();
      ++done;
    }
    ctxt.PutAttribute(L"ReturnValue", CValue(done));
    return CStatus::OK;
  });
}
