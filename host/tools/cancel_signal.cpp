#include "cancel_signal.h"

#include <atomic>

namespace scenehost {

namespace {

// The handler cannot take arguments; it reaches the flag through here.
std::atomic<host::Progress*> gProgress{nullptr};
static_assert(std::atomic<host::Progress*>::is_always_lock_free, "read from a signal handler");

extern "C" void RequestCancelOnSignal(int) {
  if (host::Progress* progress = gProgress.load(std::memory_order_relaxed)) progress->RequestCancel();
}

}  // namespace

CancelOnInterrupt::CancelOnInterrupt(host::Progress& progress) : progress_(progress) {
  progress_.ClearCancel();
  if (sigaction(SIGINT, nullptr, &previous_) != 0 || previous_.sa_handler == SIG_IGN) return;
  gProgress.store(&progress_);
  struct sigaction action {};
  action.sa_handler = RequestCancelOnSignal;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: the second Ctrl-C kills. SA_RESTART: reads and writes in
  // progress are not cut short by the first.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  installed_ = sigaction(SIGINT, &action, nullptr) == 0;
}

CancelOnInterrupt::~CancelOnInterrupt() {
  if (installed_) sigaction(SIGINT, &previous_, nullptr);
  gProgress.store(nullptr);
  progress_.ClearCancel();
}

}  // namespace scenehost
