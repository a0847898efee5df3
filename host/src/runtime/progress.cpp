#include "progress.h"

#include <algorithm>

namespace host {

void Progress::Start(long total, const XSI::CString& caption) {
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

}  // namespace host
