// scenehost's progress display: the bar line and time left with an injected
// clock and terminal width, the redraw pacing, and the every-tenth log lines.
#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "progress_display.h"

using namespace std::chrono_literals;
using scenehost::ProgressDisplay;

namespace {

using Clock = std::chrono::steady_clock;

host::ProgressState State(const char* caption, long done, long total, const char* text = "") {
  host::ProgressState s;
  s.running = true;
  s.caption = XSI::CString::FromUtf8(caption);
  s.done = done;
  s.total = total;
  s.text = XSI::CString::FromUtf8(text);
  return s;
}

std::size_t Columns(const std::string& s) {
  std::size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A display with a hand-moved clock, fed by a real progress state.
struct Rig {
  Clock::time_point now{};
  std::ostringstream terminal;
  std::vector<std::string> lines;
  host::Progress progress;
  ProgressDisplay display;

  explicit Rig(ProgressDisplay::Mode mode, int columns = 80)
      : display([&] {
          ProgressDisplay::Setup setup;
          setup.mode = mode;
          setup.terminal = &terminal;
          setup.columns = [columns] { return columns; };
          setup.log = [this](const std::string& line) { lines.push_back(line); };
          setup.clock = [this] { return now; };
          return setup;
        }()) {
    display.Attach(progress);
  }
  std::string Take() {
    std::string s = terminal.str();
    terminal.str("");
    return s;
  }
};

}  // namespace

TEST(ProgressTimeLeft, ScalesTheElapsedTimeToTheStepsLeft) {
  EXPECT_EQ(scenehost::FormatTimeLeft(0, 10, 5s), "--");
  EXPECT_EQ(scenehost::FormatTimeLeft(500, 1000, 30s), "30s");
  EXPECT_EQ(scenehost::FormatTimeLeft(1, 11, 10s), "1m40s");
  EXPECT_EQ(scenehost::FormatTimeLeft(1, 100, 60s), "1h39m");
  EXPECT_EQ(scenehost::FormatTimeLeft(2, 3, 1ns), "1s") << "rounded up while work is left";
  EXPECT_EQ(scenehost::FormatTimeLeft(3, 3, 10s), "0s");
  EXPECT_EQ(scenehost::FormatTimeLeft(1, 101, 3600s), ">99h");
  EXPECT_EQ(scenehost::FormatTimeLeft(1, LONG_MAX, 1000h), ">99h") << "no overflow";
}

TEST(ProgressBarLine, ShowsCaptionBarCountPercentTimeLeftAndStatus) {
  const auto s = State("RaiseCity town.json", 300, 1000, "lot 300");
  EXPECT_EQ(scenehost::FormatBarLine(s, 30s, 80),
            "RaiseCity town.json [######              ] 300/1000  30%  1m10s left  lot 300");
  EXPECT_EQ(scenehost::FormatBarLine(State("RaiseCity town.json", 300, 1000, "lot 300: brick_3"), 30s, 80),
            "RaiseCity town.json [######              ] 300/1000  30%  1m10s left  lot 30...");
  EXPECT_EQ(scenehost::FormatBarLine(State("c", 0, 7), 0s, 80), "c [                    ] 0/7   0%  -- left");
  EXPECT_EQ(scenehost::FormatBarLine(State("c", 7, 7), 3s, 80), "c [####################] 7/7 100%  0s left");
}

TEST(ProgressBarLine, FitsTheTerminalWidth) {
  const std::string longText(300, 'x');
  const auto s = State(("RaiseCity " + longText).c_str(), 300, 1000, longText.c_str());
  for (int columns : {200, 80, 40, 20, 1}) {
    const std::string line = scenehost::FormatBarLine(s, 30s, columns);
    EXPECT_LE(Columns(line), static_cast<std::size_t>(std::max(1, columns - 1))) << columns;
  }
  // The numbers win over the caption and the status text.
  const std::string at80 = scenehost::FormatBarLine(s, 30s, 80);
  EXPECT_TRUE(Has(at80, "300/1000  30%  1m10s left")) << at80;
  EXPECT_TRUE(Has(at80, "...")) << at80;
  EXPECT_EQ(Columns(at80), 79u);
}

TEST(ProgressBarLine, PluginTextCannotDriveTheTerminal) {
  const auto s = State("evil\x1b[2J\r", 1, 2, "line\nbreak\x07");
  const std::string line = scenehost::FormatBarLine(s, 1s, 80);
  for (char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << line;
  EXPECT_TRUE(Has(line, "evil\\x1B[2J\\r")) << line;
}

TEST(ProgressBarLine, CutsBetweenCharacters) {
  std::string caption;
  for (int i = 0; i < 100; ++i) caption += "\xC3\xA9";  // é
  const std::string line = scenehost::FormatBarLine(State(caption.c_str(), 1, 2), 1s, 60);
  EXPECT_EQ(Columns(line), 59u);
  // Every é is whole: as many lead bytes as continuation bytes.
  std::size_t leads = 0, tails = 0;
  for (char c : line) {
    leads += static_cast<unsigned char>(c) == 0xC3;
    tails += static_cast<unsigned char>(c) == 0xA9;
  }
  EXPECT_EQ(leads, tails);
  EXPECT_GT(leads, 0u);
}

TEST(ProgressLines, OneLinePerTenthAndNoneForZero) {
  Rig rig(ProgressDisplay::Lines);
  rig.progress.Start(20, XSI::CString::FromUtf8("RaiseCity town.json"));
  for (int i = 0; i < 25; ++i) rig.progress.Advance(1);  // past the end: clamped
  rig.progress.Stop();
  std::vector<std::string> expected;
  for (int tenth = 1; tenth <= 10; ++tenth)
    expected.push_back("RaiseCity town.json: " + std::to_string(tenth * 10) + "% (" +
                       std::to_string(tenth * 2) + " of 20)");
  EXPECT_EQ(rig.lines, expected);
  EXPECT_EQ(rig.terminal.str(), "") << "lines mode never draws";
}

TEST(ProgressLines, AJumpGivesOneLineAndARestartStartsOver) {
  Rig rig(ProgressDisplay::Lines);
  rig.progress.Start(1000, XSI::CString::FromUtf8("c"));
  rig.progress.Advance(5);    // 0%: nothing
  rig.progress.Advance(345);  // 35%: past 10, 20 and 30 at once
  rig.progress.Advance(40);   // 39%: still the same tenth
  rig.progress.Advance(10);   // 40%
  EXPECT_EQ(rig.lines, (std::vector<std::string>{"c: 35% (350 of 1000)", "c: 40% (400 of 1000)"}));
  rig.lines.clear();
  rig.progress.Start(3, XSI::CString::FromUtf8("small"));
  rig.progress.Advance(1);
  rig.progress.Advance(1);
  rig.progress.Advance(1);
  EXPECT_EQ(rig.lines, (std::vector<std::string>{"small: 33% (1 of 3)", "small: 66% (2 of 3)",
                                                 "small: 100% (3 of 3)"}));
}

TEST(ProgressBarDisplay, RedrawsAtMostTenTimesASecondAndClearsOnStop) {
  Rig rig(ProgressDisplay::Bar);
  rig.progress.Start(100, XSI::CString::FromUtf8("c"));
  EXPECT_EQ(rig.Take(), "\r\033[Kc [                    ] 0/100   0%  -- left");
  rig.now += 50ms;
  rig.progress.Advance(1);
  rig.progress.SetText(XSI::CString::FromUtf8("soon"));
  EXPECT_EQ(rig.Take(), "") << "within 100 ms of the last draw";
  rig.now += 50ms;
  rig.progress.Advance(1);
  EXPECT_EQ(rig.Take(), "\r\033[Kc [                    ] 2/100   2%  5s left  soon");
  rig.progress.Stop();
  EXPECT_EQ(rig.Take(), "\r\033[K");
  EXPECT_TRUE(rig.lines.empty()) << "bar mode logs no tenth lines";
}

TEST(ProgressBarDisplay, LogLinesPrintedWhileABarShowsGetALineOfTheirOwn) {
  Rig rig(ProgressDisplay::Bar);
  rig.display.BeforeTerminalLine();
  rig.display.AfterTerminalLine();
  EXPECT_EQ(rig.Take(), "") << "no bar, nothing to clear or redraw";
  rig.progress.Start(4, XSI::CString::FromUtf8("c"));
  rig.Take();
  rig.display.BeforeTerminalLine();
  rig.terminal << "warning: something\n";
  rig.display.AfterTerminalLine();
  EXPECT_EQ(rig.Take(), "\r\033[Kwarning: something\n\r\033[Kc [                    ] 0/4   0%  -- left");
  rig.progress.Stop();
  rig.Take();
  rig.display.BeforeTerminalLine();
  rig.display.AfterTerminalLine();
  EXPECT_EQ(rig.Take(), "") << "a stopped bar stays gone";
}

TEST(ProgressBarDisplay, ShowsThatACancelIsUnderWay) {
  Rig rig(ProgressDisplay::Bar, 120);
  rig.progress.Start(10, XSI::CString::FromUtf8("c"));
  rig.progress.SetText(XSI::CString::FromUtf8("step 1"));
  rig.progress.RequestCancel();
  rig.now += 100ms;
  rig.progress.Advance(1);
  const std::string drawn = rig.Take();
  EXPECT_TRUE(Has(drawn, "1/10  10%")) << drawn;
  EXPECT_TRUE(Has(drawn, "cancelling (Ctrl-C again ends scenehost)")) << drawn;
  EXPECT_FALSE(Has(drawn, "step 1")) << drawn;
}
