// Application: the host itself. Runs commands, logs, gives the selection,
// the scene root and the host's folders. Every call is safe: failures come
// back as a CStatus (and an error line in the log), never as an exception.
#pragma once

#include "xsi_api.h"

#include <cfloat>

#include "xsi_status.h"
#include "xsi_string.h"
#include "xsi_value.h"

namespace XSI {

class Selection;
class X3DObject;

// Log severities. Smaller numbers are more severe. 8 and 16 are verbose
// levels: a normal run hides them, --verbose shows them, the log file and
// the journal always keep them.
enum siSeverityType {
  siFatalMsg = 1,
  siErrorMsg = 2,
  siWarningMsg = 4,
  siTraceMsg = 8,     // verbose
  siVerboseMsg = 16,  // verbose
  siInfoMsg = 32,
};

// Folders the host knows about.
enum siInstallationPath {
  siFactoryPath = 0,  // where the host's own files are: the install prefix
                      // (or the build folder); empty when the host has none
  siUserPath = 1,     // the host folder ("home"): units libraries live below it
  siWorkingPath = 2,  // the process's current directory
};

// The SDK's default time argument.
constexpr double kDefaultTime = DBL_MAX;

class XSI_API Application {
 public:
  // Runs a host or plug-in command with positional arguments; the command's
  // value goes to `out` (left empty when the command has none).
  CStatus ExecuteCommand(const CString& name, const CValueArray& args, CValue& out) const;
  CStatus LogMessage(const CString& text, siSeverityType severity = siInfoMsg) const;
  CStatus LogMessage(const CString& text, long severity) const {
    return LogMessage(text, static_cast<siSeverityType>(severity));
  }
  Selection GetSelection() const;
  X3DObject GetActiveSceneRoot() const;
  // The folder without a trailing separator; empty for an unknown value.
  CString GetInstallationPath(siInstallationPath which) const;
  CString GetInstallationPath(long which) const {
    return GetInstallationPath(static_cast<siInstallationPath>(which));
  }
};

}  // namespace XSI
