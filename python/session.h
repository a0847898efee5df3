// The Python module's one session with the process's runtime.
//
// The runtime is one per process and not thread-safe, so every call that
// reaches it holds the session lock (SessionLock). A command runs with the
// GIL released; log lines reach Python (the "scenehost" logger, the Host's
// callback) as they happen, taking the GIL back for each line.
//
// Each Host starts a new session: the scene, the image clips and the journal
// are cleared, the previous Host's plug-ins are unloaded and the new ones
// loaded. A Host from an earlier session refuses every call.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace host {
class PluginManager;
}

namespace scenehost_py {

namespace py = pybind11;

struct LogRecord {
  std::string text;
  int severity = 0;
};

// Python's logging level for a severity (XSI::siSeverityType; any number
// counts as the named severity at or below it).
int LoggingLevel(int severity);

// What a session loads. Empty `home` and `useDefaultPlugins` mean the
// defaults the command-line host uses.
struct SessionSetup {
  std::string home;
  bool useDefaultPlugins = true;
  std::vector<std::string> pluginPaths;  // folders or files
};

class Session {
 public:
  static Session& Get();  // lives until the process ends

  // Requires the session lock. Checks every path first (FileNotFoundError
  // naming it), then resets the runtime and loads the plug-ins.
  std::uint64_t Start(const SessionSetup& setup);
  std::uint64_t Generation() const { return generation_; }
  // At interpreter exit: unloads the plug-ins and lets go of Python objects.
  void Shutdown();

  // The session's log, oldest first; at most kMaxLogLines are kept.
  static constexpr std::size_t kMaxLogLines = 100000;
  const std::deque<LogRecord>& Log() const { return log_; }
  // The error line (severity 1 or 2) logged last since ClearLastError.
  void ClearLastError() { lastError_.clear(); }
  const std::string& LastError() const { return lastError_; }
  // Set when Ctrl-C arrived while a log callback ran during a command.
  bool TakePendingInterrupt();

  void SetCallback(py::object callback);  // None clears
  py::object Callback() const;
  // The "scenehost" logger and the LogLine type (once, at import).
  void Attach(py::object logger, py::object logLineType);

  std::mutex& Mutex() { return mutex_; }

 private:
  Session() = default;
  void OnLog(const std::string& text, int severity);
  void Dispatch(const std::string& text, int severity);

  std::mutex mutex_;
  std::uint64_t generation_ = 0;
  std::unique_ptr<host::PluginManager> plugins_;
  int sink_ = 0;
  std::deque<LogRecord> log_;
  std::string lastError_;
  bool pendingInterrupt_ = false;
  // Raw references, released in Shutdown(): a static must not drop Python
  // objects after the interpreter has gone.
  PyObject* callback_ = nullptr;
  PyObject* logger_ = nullptr;
  PyObject* logLineType_ = nullptr;
};

// Holds the session lock. Waits with the GIL released, so that a command
// running on another thread can still log. A thread that already holds it
// (a log callback running inside a command) gets RuntimeError instead of a
// deadlock.
class SessionLock {
 public:
  SessionLock();
  ~SessionLock();
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;
};

}  // namespace scenehost_py
