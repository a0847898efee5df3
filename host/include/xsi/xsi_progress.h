// ProgressBar: how far a long command has come, and whether the user asked it
// to stop. The host shows it (scenehost: a one-line bar on stderr, or a log
// line every 10% when stderr is not a terminal or under --quiet; see
// docs/progress.md). A plug-in makes one on the stack for its run:
//
//   XSI::ProgressBar bar;
//   bar.Start(lots, L"RaiseCity town.json");
//   for (...) {
//     if (bar.IsCancelled()) { ...undo, return CStatus::Abort; }
//     ...one lot...
//     bar.Increment();
//   }
//   bar.Stop();          // also done by the destructor
//
// One bar runs at a time: a bar started while another command's bar runs
// (a command called from that command's loop) keeps quiet, and the outer bar
// keeps the display. Every call is safe and never throws; with no
// display attached the calls only keep count.
#pragma once

#include "xsi_api.h"

#include "xsi_status.h"
#include "xsi_string.h"

namespace XSI {

class XSI_API ProgressBar {
 public:
  ProgressBar() = default;
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Stops the bar when this one started it and has not stopped it.
  ~ProgressBar();

  // Starts counting toward `total` steps (at least 1) under `caption`.
  // InvalidArgument for total < 1. Starting again restarts the count. When
  // another bar is already running, this one is not shown: OK is returned
  // and its Increment, SetStatusText and Stop change nothing (IsShown).
  CStatus Start(long total, const CString& caption);
  // Moves `steps` (>= 0) further; the count never passes the total.
  CStatus Increment(long steps = 1);
  // The text shown beside the count, e.g. "lot 12: brick_3".
  CStatus SetStatusText(const CString& text);
  // Ends the run and clears the display.
  CStatus Stop();

  // True while this bar is the one the host shows: it was started and no
  // other bar was running then. A command run from another command's loop
  // may leave the cancel to that caller, which checks between its steps.
  bool IsShown() const;

  // True once the user asked the running command to stop (Ctrl-C in
  // scenehost). A command that sees it should undo what it did and return
  // CStatus::Abort. Works whether or not a bar was started.
  bool IsCancelled() const;

 private:
  bool started_ = false;
};

}  // namespace XSI
