// ProgressBar: a view onto the runtime's one progress state.
#include "xsi_progress.h"

#include "runtime.h"

namespace XSI {

ProgressBar::~ProgressBar() {
  if (started_) Stop();
}

CStatus ProgressBar::Start(long total, const CString& caption) {
  if (total < 1) return CStatus::InvalidArgument;
  try {
    host::Progress& progress = host::Runtime::Get().GetProgress();
    // Inside another command's run this bar keeps quiet: that run keeps
    // the display, and this bar's calls change nothing.
    if (progress.State().running && !progress.Owns(this)) return CStatus::OK;
    progress.Start(total, caption, this);
    started_ = true;
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

CStatus ProgressBar::Increment(long steps) {
  if (steps < 0) return CStatus::InvalidArgument;
  try {
    host::Progress& progress = host::Runtime::Get().GetProgress();
    if (progress.Owns(this)) progress.Advance(steps);
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

CStatus ProgressBar::SetStatusText(const CString& text) {
  try {
    host::Progress& progress = host::Runtime::Get().GetProgress();
    if (progress.Owns(this)) progress.SetText(text);
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

CStatus ProgressBar::Stop() {
  if (!started_) return CStatus::OK;
  started_ = false;
  try {
    host::Progress& progress = host::Runtime::Get().GetProgress();
    if (progress.Owns(this)) progress.Stop();
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

bool ProgressBar::IsShown() const {
  try {
    return host::Runtime::Get().GetProgress().Owns(this);
  } catch (...) {
    return false;
  }
}

bool ProgressBar::IsCancelled() const { return host::Runtime::Get().GetProgress().CancelRequested(); }

}  // namespace XSI
