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
    host::Runtime::Get().GetProgress().Start(total, caption);
    started_ = true;
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

CStatus ProgressBar::Increment(long steps) {
  if (steps < 0) return CStatus::InvalidArgument;
  try {
    host::Runtime::Get().GetProgress().Advance(steps);
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

CStatus ProgressBar::SetStatusText(const CString& text) {
  try {
    host::Runtime::Get().GetProgress().SetText(text);
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

CStatus ProgressBar::Stop() {
  if (!started_) return CStatus::OK;
  started_ = false;
  try {
    host::Runtime::Get().GetProgress().Stop();
    return CStatus::OK;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

bool ProgressBar::IsCancelled() const { return host::Runtime::Get().GetProgress().CancelRequested(); }

}  // namespace XSI
