#include "progress_display.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <utility>

#include <sys/ioctl.h>
#include <unistd.h>

#include "message_text.h"

namespace scenehost {

namespace {

using std::chrono::nanoseconds;

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kFallbackColumns = 80;
constexpr const char* kClearLine = "\r\033[K";
constexpr long double kMostSecondsShown = 100.0L * 3600;

// ShownText leaves only printable ASCII and whole UTF-8 characters, so a
// character is one lead byte; wide East Asian characters count as one, which
// at worst leaves the line short of the edge.
std::size_t Columns(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The first `count` characters of `text`, cut at a character boundary.
std::string FirstColumns(const std::string& text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
    if (seen++ == count) return text.substr(0, at);
  }
  return text;
}

// `text` in at most `width` columns, "..." marking a cut.
std::string Fit(const std::string& text, std::size_t width) {
  if (Columns(text) <= width) return text;
  if (width <= 3) return FirstColumns(text, width);
  return FirstColumns(text, width - 3) + "...";
}

std::string Shown(const XSI::CString& text) { return ShownText(text.GetUtf8String(), kShownLineBytes); }

std::string TwoDigits(long long n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string BarCells(long done, long total, int cells) {
  const long filled = Percent(done, total) * cells / 100;
  return std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(cells - filled), ' ');
}

}  // namespace

long Percent(long done, long total) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 100;
  // In long double: no overflow, and exact for any count a command makes.
  return static_cast<long>(static_cast<long double>(done) * 100 / static_cast<long double>(total));
}

std::string FormatTimeLeft(long done, long total, nanoseconds elapsed) {
  if (done <= 0 || total <= 0) return "--";
  const long double perStep = static_cast<long double>(elapsed.count()) / done;
  const long double leftNs = perStep * static_cast<long double>(std::max(0L, total - done));
  // Rounded up: "0s left" only once nothing is left. Capped before the
  // conversion, which a first step of a huge total could overflow.
  const long double exact = std::ceil(std::max(0.0L, leftNs) / 1e9L);
  if (exact >= kMostSecondsShown) return ">99h";
  const auto seconds = static_cast<long long>(exact);
  if (seconds < 60) return std::to_string(seconds) + "s";
  if (seconds < 3600) return std::to_string(seconds / 60) + "m" + TwoDigits(seconds % 60) + "s";
  return std::to_string(seconds / 3600) + "h" + TwoDigits(seconds / 60 % 60) + "m";
}

std::string FormatBarLine(const host::ProgressState& state, nanoseconds elapsed, int columns) {
  const std::size_t width = static_cast<std::size_t>(std::max(1, columns - 1));
  const int cells = columns >= 60 ? 20 : 10;
  std::string pct = std::to_string(Percent(state.done, state.total));
  pct.insert(0, 3 - std::min<std::size_t>(3, pct.size()), ' ');
  const std::string core = " [" + BarCells(state.done, state.total, cells) + "] " +
                           std::to_string(state.done) + "/" + std::to_string(state.total) + " " +
                           pct + "%  " + FormatTimeLeft(state.done, state.total, elapsed) + " left";
  // The caption gives way to the numbers; the status text takes what is left.
  const std::size_t coreColumns = Columns(core);
  std::string line = Fit(Shown(state.caption), width > coreColumns ? width - coreColumns : 0) + core;
  const std::string status = Shown(state.text);
  const std::size_t used = Columns(line);
  if (!status.empty() && used + 2 < width) line += "  " + Fit(status, width - used - 2);
  return Fit(line, width);
}

std::string FormatTenthLine(const host::ProgressState& state) {
  return Shown(state.caption) + ": " + std::to_string(Percent(state.done, state.total)) + "% (" +
         std::to_string(state.done) + " of " + std::to_string(state.total) + ")";
}

int TerminalColumns(int fd) {
  struct winsize size {};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kFallbackColumns;
  return size.ws_col;
}

ProgressDisplay::Setup ProgressDisplay::ForStderr(bool quiet, std::function<void(const std::string&)> log) {
  Setup setup;
  setup.log = std::move(log);
  // A dumb terminal cannot clear a line, so it gets the lines instead.
  const char* term = std::getenv("TERM");
  if (quiet || isatty(STDERR_FILENO) != 1 || (term && std::string(term) == "dumb")) return setup;
  setup.mode = Bar;
  setup.terminal = &std::cerr;
  setup.columns = [] { return TerminalColumns(STDERR_FILENO); };
  return setup;
}

ProgressDisplay::ProgressDisplay(Setup setup) : setup_(std::move(setup)) {
  if (setup_.mode == Bar && (!setup_.terminal || !setup_.columns)) setup_.mode = Lines;
  if (!setup_.clock) setup_.clock = std::chrono::steady_clock::now;
}

ProgressDisplay::~ProgressDisplay() {
  if (attached_) attached_->SetSink({});
  Clear();
}

void ProgressDisplay::Attach(host::Progress& progress) {
  if (attached_) attached_->SetSink({});
  attached_ = &progress;
  progress.SetSink([this](const host::ProgressState& state, host::ProgressState::Event event) {
    OnEvent(state, event);
  });
}

void ProgressDisplay::OnEvent(const host::ProgressState& state, host::ProgressState::Event event) {
  last_ = state;
  if (setup_.mode == Bar) {
    OnBarEvent(state, event);
  } else {
    OnLinesEvent(state, event);
  }
}

void ProgressDisplay::OnBarEvent(const host::ProgressState& state, host::ProgressState::Event event) {
  const auto now = setup_.clock();
  switch (event) {
    case host::ProgressState::Started:
      started_ = now;
      Draw(state);
      return;
    case host::ProgressState::Stopped:
      Clear();
      return;
    case host::ProgressState::Advanced:
    case host::ProgressState::TextChanged:
      if (now - drawn_ >= kRedrawEvery) Draw(state);
      return;
  }
}

void ProgressDisplay::OnLinesEvent(const host::ProgressState& state, host::ProgressState::Event event) {
  if (event == host::ProgressState::Started) tenthsLogged_ = 0;
  if (event != host::ProgressState::Advanced || !setup_.log) return;
  const long tenths = Percent(state.done, state.total) / 10;
  if (tenths <= tenthsLogged_) return;
  tenthsLogged_ = tenths;
  setup_.log(FormatTenthLine(state));
}

void ProgressDisplay::Draw(const host::ProgressState& state) {
  drawn_ = setup_.clock();
  // Until the command looks at the flag the bar is the only sign that the
  // Ctrl-C was seen.
  host::ProgressState shown = state;
  if (attached_ && attached_->CancelRequested()) shown.text = L"cancelling (Ctrl-C again ends scenehost)";
  *setup_.terminal << kClearLine << FormatBarLine(shown, drawn_ - started_, setup_.columns())
                   << std::flush;
  shown_ = true;
}

void ProgressDisplay::Clear() {
  if (!shown_) return;
  *setup_.terminal << kClearLine << std::flush;
  shown_ = false;
}

void ProgressDisplay::BeforeTerminalLine() { Clear(); }

void ProgressDisplay::AfterTerminalLine() {
  if (setup_.mode == Bar && last_.running) Draw(last_);
}

}  // namespace scenehost
