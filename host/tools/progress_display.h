// ProgressDisplay: how scenehost shows the runtime's progress (the state
// behind XSI::ProgressBar) while a command runs.
//
// Bar mode, when stderr is a terminal and scenehost is not --quiet: one line
// on stderr, redrawn in place,
//   RaiseCity town.json [######              ] 300/1000  30%  1m05s left  lot 300: brick_3
// caption, bar, count, percentage, time left ("--" until the first step,
// then the elapsed time scaled to the steps left) and the status text, cut
// to the terminal width. Redrawn at most every 100 ms, and at once on start;
// cleared on stop. A log line printed while a bar shows is framed by
// BeforeTerminalLine/AfterTerminalLine: the bar line is cleared, the log line
// printed, the bar drawn again below it.
//
// Lines mode, otherwise: one log line each time the count reaches a further
// tenth of the total, e.g. "RaiseCity town.json: 30% (300 of 1000)", handed
// to the log callback (scenehost sends it through the runtime log, so the
// journal and the --log file hold it). Never a line for 0%; when one step
// passes several tenths, one line for the highest.
//
// Caption and status come from plug-ins: they are escaped like log lines.
// The clock is injectable so that time left can be tested.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "progress.h"

namespace scenehost {

class ProgressDisplay {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  enum Mode { Bar, Lines };

  struct Setup {
    Mode mode = Lines;
    std::ostream* terminal = nullptr;              // Bar: where the line is drawn
    std::function<int()> columns;                  // Bar: terminal width
    std::function<void(const std::string&)> log;   // Lines: one UTF-8 line
    Clock clock = std::chrono::steady_clock::now;
  };

  // What scenehost uses: Bar on a terminal stderr (not TERM=dumb) unless
  // quiet, else Lines.
  static Setup ForStderr(bool quiet, std::function<void(const std::string&)> log);

  explicit ProgressDisplay(Setup setup);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // Becomes `progress`'s sink until destroyed.
  void Attach(host::Progress& progress);

  void OnEvent(const host::ProgressState& state, host::ProgressState::Event event);

  // Frame a line written to the same terminal while a bar may show.
  void BeforeTerminalLine();
  void AfterTerminalLine();

 private:
  void OnBarEvent(const host::ProgressState& state, host::ProgressState::Event event);
  void OnLinesEvent(const host::ProgressState& state, host::ProgressState::Event event);
  void Draw(const host::ProgressState& state);
  void Clear();

  Setup setup_;
  host::Progress* attached_ = nullptr;
  host::ProgressState last_;  // for redrawing after a log line
  std::chrono::steady_clock::time_point started_{};
  std::chrono::steady_clock::time_point drawn_{};
  bool shown_ = false;
  long tenthsLogged_ = 0;
};

// Floor of done/total in percent, exact for any count.
long Percent(long done, long total);

// "--" before the first step, else the elapsed time scaled to the steps
// left: "42s", "3m05s", "1h02m", and ">99h" beyond that.
std::string FormatTimeLeft(long done, long total, std::chrono::nanoseconds elapsed);

// The bar line without control sequences, at most `columns - 1` characters
// (the last column is left free so the terminal never wraps).
std::string FormatBarLine(const host::ProgressState& state, std::chrono::nanoseconds elapsed,
                          int columns);

// "RaiseCity town.json: 30% (300 of 1000)".
std::string FormatTenthLine(const host::ProgressState& state);

// The width of the terminal on `fd` (TIOCGWINSZ), or 80 when unknown.
int TerminalColumns(int fd);

}  // namespace scenehost
