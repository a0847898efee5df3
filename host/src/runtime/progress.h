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

  void Start(long total, const XSI::CString& caption);
  void Advance(long steps);
  void SetText(const XSI::CString& text);
  void Stop();
  const ProgressState& State() const { return state_; }

  // Safe to call from a signal handler.
  void RequestCancel() { cancel_.store(true, std::memory_order_relaxed); }
  bool CancelRequested() const { return cancel_.load(std::memory_order_relaxed); }
  // The host tool clears the flag once the cancelled work has returned.
  void ClearCancel() { cancel_.store(false, std::memory_order_relaxed); }

 private:
  void Notify(ProgressState::Event event);

  ProgressState state_;
  Sink sink_;
  std::atomic<bool> cancel_{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "signal handlers need a lock-free flag");
};

}  // namespace host
