#include <unistd.h>

#include <climits>
#include <exception>

#include "runtime.h"
#include "xsi_application.h"
#include "xsi_selection.h"
#include "xsi_x3dobject.h"

namespace XSI {

CStatus Application::ExecuteCommand(const CString& name, const CValueArray& args, CValue& out) const {
  try {
    return host::Runtime::Get().Execute(name, args, out);
  } catch (...) {
    // Execute already catches what the command throws; this only guards the
    // journal and log themselves (e.g. out of memory while recording).
    return CStatus::Unexpected;
  }
}

CStatus Application::LogMessage(const CString& text, siSeverityType severity) const {
  try {
    host::Runtime::Get().Log(text, severity);
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

Selection Application::GetSelection() const { return Selection(); }

X3DObject Application::GetActiveSceneRoot() const {
  // The root is not an object of the scene's table; its id is one the scene
  // never hands out.
  return X3DObject(CRef(siRefKind::Object, host::kSceneRootId));
}

CString Application::GetInstallationPath(siInstallationPath which) const {
  host::Runtime& rt = host::Runtime::Get();
  switch (which) {
    case siUserPath:
      return host::FromUtf8(rt.HomePath());
    case siFactoryPath:
      return host::FromUtf8(rt.FactoryPath());
    case siWorkingPath: {
      char buf[PATH_MAX];
      return getcwd(buf, sizeof buf) ? host::FromUtf8(buf) : CString();
    }
  }
  return CString();
}

}  // namespace XSI
