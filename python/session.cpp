#include "session.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <dlfcn.h>

#include <xsi_application.h>

#include "plugin_loader.h"
#include "runtime.h"

namespace scenehost_py {

namespace fs = std::filesystem;

namespace {

thread_local bool t_holdsLock = false;

// The folder this module was loaded from.
fs::path ModuleDir() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LoggingLevel), &info) == 0 || !info.dli_fname) return {};
  std::error_code ec;
  const fs::path file = fs::canonical(info.dli_fname, ec);
  return ec ? fs::path() : file.parent_path();
}

struct DefaultPaths {
  std::string home, plugins;
};

// As the command-line host does: the build tree's module uses the source
// tree's home/ and the build tree's plug-ins; an installed module finds both
// relative to itself.
DefaultPaths FindDefaultPaths() {
  const fs::path dir = ModuleDir();
  std::error_code ec;
  if (dir.empty() || fs::equivalent(dir, SCENEHOST_PY_BUILD_DIR, ec)) {
    return {SCENEHOST_BUILD_HOME, SCENEHOST_BUILD_PLUGINS};
  }
  return {(dir / SCENEHOST_PY_INSTALL_HOME).lexically_normal().string(),
          (dir / SCENEHOST_PY_INSTALL_PLUGINS).lexically_normal().string()};
}

[[noreturn]] void RaiseOSError(PyObject* type, int error, const std::string& what,
                               const std::string& path) {
  py::object exc = py::reinterpret_borrow<py::object>(type)(error, what, path);
  PyErr_SetObject(type, exc.ptr());
  throw py::error_already_set();
}

void CheckHome(const std::string& home) {
  std::error_code ec;
  const fs::file_status st = fs::status(home, ec);
  if (!fs::exists(st)) RaiseOSError(PyExc_FileNotFoundError, ENOENT, "no such home folder", home);
  if (!fs::is_directory(st)) {
    RaiseOSError(PyExc_NotADirectoryError, ENOTDIR, "the home folder is not a folder", home);
  }
}

void CheckPluginPath(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(fs::status(path, ec))) {
    RaiseOSError(PyExc_FileNotFoundError, ENOENT, "no such plug-in folder or file", path);
  }
}

}  // namespace

int LoggingLevel(int severity) {
  if (severity <= XSI::siFatalMsg) return 50;   // CRITICAL
  if (severity < XSI::siWarningMsg) return 40;  // ERROR
  if (severity < XSI::siTraceMsg) return 30;    // WARNING
  if (severity < XSI::siInfoMsg) return 10;     // DEBUG: trace and verbose
  return 20;                                    // INFO
}

Session& Session::Get() {
  // Never destroyed: Python objects must not be released after the
  // interpreter is gone. Shutdown() does the cleaning at exit.
  static Session* session = new Session();
  return *session;
}

std::uint64_t Session::Start(const SessionSetup& setup) {
  const DefaultPaths defaults = FindDefaultPaths();
  if (!setup.home.empty()) CheckHome(setup.home);
  for (const auto& path : setup.pluginPaths) CheckPluginPath(path);

  host::Runtime& rt = host::Runtime::Get();
  Py_CLEAR(callback_);  // the earlier Host's
  if (plugins_) plugins_->UnloadAll();
  plugins_.reset();
  rt.ResetScene();
  log_.clear();
  lastError_.clear();
  pendingInterrupt_ = false;
  ++generation_;
  if (sink_ == 0) {
    sink_ = rt.AddLogSink([this](const XSI::CString& text, XSI::siSeverityType severity) {
      OnLog(text.GetUtf8String(), severity);
    });
  }
  rt.SetHomePath(setup.home.empty() ? defaults.home : setup.home);
  plugins_ = std::make_unique<host::PluginManager>(rt);
  std::error_code ec;
  if (setup.useDefaultPlugins) {
    if (fs::is_directory(defaults.plugins, ec)) plugins_->LoadDirectory(defaults.plugins);
  } else {
    for (const auto& path : setup.pluginPaths) {
      if (fs::is_directory(path, ec)) {
        plugins_->LoadDirectory(path);
      } else {
        plugins_->Load(path);
      }
    }
  }
  // host.commands lists every command's arguments without running it.
  plugins_->DefineAll();
  return generation_;
}

void Session::Attach(py::object logger, py::object logLineType) {
  logger_ = logger.release().ptr();
  logLineType_ = logLineType.release().ptr();
}

void Session::Shutdown() {
  ++generation_;
  // A command still running on another thread keeps what it uses.
  if (t_holdsLock || !mutex_.try_lock()) return;
  if (plugins_) plugins_->UnloadAll();
  plugins_.reset();
  if (sink_ != 0) host::Runtime::Get().RemoveLogSink(sink_);
  sink_ = 0;
  Py_CLEAR(callback_);
  Py_CLEAR(logger_);
  Py_CLEAR(logLineType_);
  mutex_.unlock();
}

bool Session::TakePendingInterrupt() {
  const bool pending = pendingInterrupt_;
  pendingInterrupt_ = false;
  return pending;
}

void Session::SetCallback(py::object callback) {
  PyObject* old = callback_;
  callback_ = callback.is_none() ? nullptr : callback.release().ptr();
  Py_XDECREF(old);
}

py::object Session::Callback() const {
  if (!callback_) return py::none();
  return py::reinterpret_borrow<py::object>(callback_);
}

void Session::OnLog(const std::string& text, int severity) {
  if (severity < XSI::siWarningMsg) lastError_ = text;
  log_.push_back({text, severity});
  if (log_.size() > kMaxLogLines) log_.pop_front();
  if (!logger_ && !callback_) return;
  py::gil_scoped_acquire gil;
  Dispatch(text, severity);
}

// Never throws: the runtime called us. A failing callback is reported as
// Python reports errors it cannot raise; Ctrl-C is kept for after the command.
void Session::Dispatch(const std::string& text, int severity) {
  const int level = LoggingLevel(severity);
  auto report = [this](py::error_already_set& e, const char* where) {
    if (e.matches(PyExc_KeyboardInterrupt)) {
      pendingInterrupt_ = true;
    } else {
      e.discard_as_unraisable(where);
    }
  };
  try {
    py::handle logger(logger_);
    if (logger && logger.attr("isEnabledFor")(level).cast<bool>()) {
      logger.attr("log")(level, "%s", text);
    }
  } catch (py::error_already_set& e) {
    report(e, "scenehost logger");
  } catch (...) {
  }
  try {
    if (callback_) {
      py::object line = py::handle(logLineType_)(text, severity, level);
      py::handle callback(callback_);
      callback(line);
    }
  } catch (py::error_already_set& e) {
    report(e, "scenehost log callback");
  } catch (...) {
  }
}

SessionLock::SessionLock() {
  if (t_holdsLock) {
    throw std::runtime_error(
        "scenehost: the host is busy on this thread (a log callback cannot use the Host "
        "while a command runs)");
  }
  std::mutex& mutex = Session::Get().Mutex();
  if (!mutex.try_lock()) {
    py::gil_scoped_release nogil;
    mutex.lock();
  }
  t_holdsLock = true;
}

SessionLock::~SessionLock() {
  t_holdsLock = false;
  Session::Get().Mutex().unlock();
}

}  // namespace scenehost_py
