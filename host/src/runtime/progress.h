// The host's progress state behind XSI::ProgressBar: one run at a time, a
// display sink the host tool attaches, and the cancel flag that a signal
// handler may set.
#pragma once

#include <atomic>
#include <functional>

#include <xsi_string.h>

namespace host {

struct ProgressState {
  enum Event { Started, Advanced, TextChanged, Stopped };
  bool running = false;
  long total = 0;
  long done = 0;
  XSI::CString caption;
  XSI::CString text;
};

class Progress {
 public:
  using Sink = std::function<void(const ProgressState& state, ProgressState::Event event)>;

  // At most one display; an empty sink detaches it.
  void SetSink(Sink sink) { sink_ = std::move(sink); }

  // `owner` names who started the run (an XSI::ProgressBar, a host
  // command's ProgressScope), so that a bar started inside another
  // command's run can tell it is not the one shown.
  void Start(long total, const XSI::CString& caption, const void* owner = nullptr);
  void Advance(long steps);
  void SetText(const XSI::CString& text);
  void Stop();
  const ProgressState& State() const { return state_; }
  // True while a run started by `owner` is going.
  bool Owns(const void* owner) const { return state_.running && owner_ == owner; }

  // Safe to call from a signal handler.
  void RequestCancel() { cancel_.store(true, std::memory_order_relaxed); }
  bool CancelRequested() const { return cancel_.load(std::memory_order_relaxed); }
  // The host tool clears the flag once the cancelled work has returned.
  void ClearCancel() { cancel_.store(false, std::memory_order_relaxed); }

 private:
  void Notify(ProgressState::Event event);

  ProgressState state_;
  const void* owner_ = nullptr;
  Sink sink_;
  std::atomic<bool> cancel_{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "signal handlers need a lock-free flag");
};

// A host command's own progress, counted in the command's unit (bytes,
// objects). Shown only when no other run is going, so a command called from
// another one's loop leaves that loop's bar alone; stopped when the scope
// goes. A cancel is honoured only when this scope is shown: a caller with a
// bar of its own checks for it between its steps.
class ProgressScope {
 public:
  ProgressScope(Progress& progress, const XSI::CString& caption) : progress_(progress), caption_(caption) {}
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

  // `done` of `total` units; the first report starts the bar (when no other
  // run is going and total >= 1). False when the user asked this shown run
  // to stop: the caller then gives up and leaves everything as it was.
  bool Report(long done, long total, const XSI::CString& text = XSI::CString());
  bool Cancelled() const { return cancelled_; }

 private:
  Progress& progress_;
  XSI::CString caption_;
  bool tried_ = false;
  long done_ = 0;
  bool cancelled_ = false;
};

}  // namespace host
