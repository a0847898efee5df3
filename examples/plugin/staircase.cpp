// Staircase: a scenehost plug-in that builds a staircase mesh out of host
// commands. Each step is a copy of a mesh read from an .obj file, moved up by
// `rise` and along x by `run`; the steps are merged into one mesh named
// "staircase", whose name the command returns.
//
//   Staircase(step, steps = 5, rise = 1.0, run = 1.0)
//
// It has no XSIUnloadPlugin: it holds nothing that needs releasing.
#include <string>
#include <vector>

#include <xsi_plugin.h>

using namespace XSI;

namespace {

const wchar_t kPlugin[] = L"Staircase";

// Runs a host command; a failure is already logged by the host.
CStatus Run(const CString& command, std::initializer_list<CValue> args, CValue& out) {
  CValueArray list;
  for (const CValue& a : args) list.Add(a);
  return Application().ExecuteCommand(command, list, out);
}

CString NameOf(const CValue& object) { return SIObject(object.GetAsRef()).GetName(); }

// Removes what a failed build left in the scene, so a failed command adds
// nothing.
void Discard(const std::vector<CString>& objects) {
  if (objects.empty()) return;
  CString list;
  for (const CString& name : objects) list += (list.IsEmpty() ? L"" : L",") + name;
  CValue ignored;
  Run(L"DeleteObj", {list}, ignored);
}

// Imports the step, copies and moves it `steps - 1` times, then merges the
// copies one by one. `live` holds the objects this run has in the scene.
CStatus Build(const CString& step, int steps, double rise, double run, CValue& result,
              std::vector<CString>& live) {
  CValue merged, ignored;
  CStatus st = Run(L"ObjImport", {step, 1, 0, false, false, false, false}, merged);
  if (!st.Succeeded()) return st;
  const CString base = NameOf(merged);
  live.push_back(base);
  for (int i = 1; i < steps; ++i) {
    CValue copy;
    if (!(st = Run(L"Duplicate", {base}, copy)).Succeeded()) return st;
    live.push_back(NameOf(copy));
    st = Run(L"Translate", {live.back(), i * run, i * rise, 0.0, 1, 8, 1, 0}, ignored);
    if (!st.Succeeded()) return st;
  }
  for (int i = 1; i < steps; ++i) {
    CValue joined;
    st = Run(L"ApplyGenOp",
             {CString(L"MeshMerge"), CString(L"MeshSurface"), live[0] + L"," + live[1], 3, 0, 0},
             joined);
    if (!st.Succeeded()) return st;
    live.push_back(NameOf(joined));
    // The inputs go; the merged mesh takes the first input's place.
    st = Run(L"DeleteGeneratorInputs", {live.back() + L".polymsh.mergemesh"}, ignored);
    if (!st.Succeeded()) return st;
    live.erase(live.begin(), live.begin() + 2);
    live.insert(live.begin(), live.back());
    live.pop_back();
    merged = joined;
  }
  st = Run(L"SetValue", {NameOf(merged) + L".Name", CString(L"staircase")}, ignored);
  if (!st.Succeeded()) return st;
  // A scene that already has a "staircase" gives this one a numbered name.
  result = NameOf(merged);
  return CStatus::OK;
}

}  // namespace

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  in_reg.PutAuthor(L"scenehost examples");
  in_reg.PutName(kPlugin);
  in_reg.PutVersion(1, 0);
  in_reg.RegisterCommand(L"Staircase", L"Staircase");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Staircase_Init(CRef& in_ctxt) {
  return GuardCallback(L"Staircase: Staircase_Init", [&] {
    Command cmd(Context(in_ctxt).GetSource());
    cmd.PutDescription(L"Builds a staircase mesh from copies of one step mesh");
    cmd.EnableReturnValue(true);
    ArgumentArray args = cmd.GetArguments();
    args.Add(L"step");
    args.Add(L"steps", CValue(5));
    args.Add(L"rise", CValue(1.0));
    args.Add(L"run", CValue(1.0));
    return CStatus::OK;
  });
}

XSIPLUGINCALLBACK CStatus Staircase_Execute(CRef& in_ctxt) {
  return GuardCallback(L"Staircase: Staircase_Execute", [&] {
    Context ctxt(in_ctxt);
    CValueArray args = ctxt.GetAttribute(L"Arguments");
    const CString step = args[0].GetAsText();
    const int steps = args[1].GetAsInt();
    if (step.IsEmpty() || steps < 1 || steps > 1000) {
      Application().LogMessage(
          L"Staircase: 'step' must name an .obj file and 'steps' be 1 to 1000, got '" + step +
              L"' and " + args[1].GetAsText(),
          siErrorMsg);
      return CStatus(CStatus::InvalidArgument);
    }
    CValue result;
    std::vector<CString> live;
    CStatus st = Build(step, steps, args[2].GetAsDouble(), args[3].GetAsDouble(), result, live);
    if (!st.Succeeded()) {
      Discard(live);
      return st;
    }
    ctxt.PutAttribute(L"ReturnValue", result);
    return st;
  });
}
