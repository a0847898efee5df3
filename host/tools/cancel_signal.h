// CancelOnInterrupt: while one is alive, Ctrl-C (SIGINT) asks the running
// command to stop instead of killing scenehost. The handler does one thing,
// set the runtime's cancel flag (a lock-free atomic, so it is safe in a
// signal handler); plug-ins see it through ProgressBar::IsCancelled and
// scenehost stops the run once the command returns.
//
// The handler is one-shot: the first Ctrl-C puts the default action back, so
// a second one ends the process even when a command never looks at the flag.
// When SIGINT was ignored at start (a background job), it stays ignored.
// The destructor puts the previous action back and clears the flag.
//
// One at a time per process.
#pragma once

#include <signal.h>

#include "progress.h"

namespace scenehost {

class CancelOnInterrupt {
 public:
  explicit CancelOnInterrupt(host::Progress& progress);
  ~CancelOnInterrupt();
  CancelOnInterrupt(const CancelOnInterrupt&) = delete;
  CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

 private:
  host::Progress& progress_;
  struct sigaction previous_ {};
  bool installed_ = false;
};

}  // namespace scenehost
