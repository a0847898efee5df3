#include "progress.h"

#include <algorithm>

namespace host {

void Progress::Start(long total, const XSI::CString& caption, const void* owner) {
  owner_ = owner;
  state_.running = true;
  state_.total = std::max(1L, total);
  state_.done = 0;
  state_.caption = caption;
  state_.text = XSI::CString();
  Notify(ProgressState::Started);
}

void Progress::Advance(long steps) {
  if (!state_.running || steps <= 0) return;
  // Added as the room left, so a huge step cannot overflow the count.
  state_.done += std::min(steps, state_.total - state_.done);
  Notify(ProgressState::Advanced);
}

void Progress::SetText(const XSI::CString& text) {
  if (!state_.running) return;
  state_.text = text;
  Notify(ProgressState::TextChanged);
}

void Progress::Stop() {
  if (!state_.running) return;
  state_.running = false;
  Notify(ProgressState::Stopped);
}

void Progress::Notify(ProgressState::Event event) {
  // A display must never take the command down with it.
  if (!sink_) return;
  try {
    sink_(state_, event);
  } catch (...) {
  }
}

ProgressScope::~ProgressScope() {
  if (progress_.Owns(this)) progress_.Stop();
}

bool ProgressScope::Report(long done, long total, const XSI::CString& text) {
  if (!tried_) {
    tried_ = true;
    if (progress_.State().running || total < 1) return true;
    progress_.Start(total, caption_, this);
  }
  if (!progress_.Owns(this)) return true;
  if (progress_.CancelRequested()) {
    cancelled_ = true;
    return false;
  }
  if (!text.IsEmpty()) progress_.SetText(text);
  if (done > done_) {
    progress_.Advance(done - done_);
    done_ = done;
  }
  return true;
}

}  // namespace host
