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
// One bar runs at a time: a Start while another command's bar runs restarts
// the display with the new total. Every call is safe and never throws; with no
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
  // InvalidArgument for total < 1.
  CStatus Start(long total, const CString& caption);
  // Moves `steps` (>= 0) further; the count never passes the total.
  CStatus Increment(long steps = 1);
  // The text shown beside the count, e.g. "lot 12: brick_3".
  CStatus SetStatusText(const CString& text);
  // Ends the run and clears the display.
  CStatus Stop();

  // True once the user asked the running command to stop (Ctrl-C in
  // scenehost). A command that sees it should undo what it did and return
  // CStatus::Abort. Works whether or not a bar was started.
  bool IsCancelled() const;

 private:
  bool started_ = false;
};

}  // namespace XSI
