// XSI::ProgressBar through the real runtime: what a display attached to the
// runtime's progress state is told, and the cancel flag.
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <vector>

#include "runtime.h"
#include "xsi_progress.h"

using XSI::CStatus;
using XSI::ProgressBar;

namespace {

struct Seen {
  host::ProgressState::Event event;
  long total, done;
  std::string caption, text;
  bool running;
};

class Progress : public ::testing::Test {
 protected:
  host::Progress& progress_ = host::Runtime::Get().GetProgress();
  std::vector<Seen> seen_;

  void SetUp() override {
    progress_.SetSink([this](const host::ProgressState& s, host::ProgressState::Event e) {
      seen_.push_back({e, s.total, s.done, s.caption.GetUtf8String(), s.text.GetUtf8String(), s.running});
    });
  }
  void TearDown() override {
    progress_.Stop();
    progress_.SetSink({});
    progress_.ClearCancel();
  }
};

}  // namespace

TEST_F(Progress, StartNeedsAtLeastOneStep) {
  ProgressBar bar;
  EXPECT_EQ(bar.Start(0, L"none"), CStatus::InvalidArgument);
  EXPECT_EQ(bar.Start(-3, L"none"), CStatus::InvalidArgument);
  EXPECT_TRUE(seen_.empty());
  EXPECT_FALSE(progress_.State().running);
  // Nothing started, so there is nothing to stop either.
  EXPECT_EQ(bar.Stop(), CStatus::OK);
  EXPECT_TRUE(seen_.empty());
}

TEST_F(Progress, CountsStayWithinTheTotal) {
  ProgressBar bar;
  ASSERT_EQ(bar.Start(5, L"RaiseCity town.json"), CStatus::OK);
  EXPECT_EQ(bar.Increment(), CStatus::OK);
  EXPECT_EQ(bar.Increment(3), CStatus::OK);
  EXPECT_EQ(progress_.State().done, 4);
  EXPECT_EQ(bar.Increment(LONG_MAX), CStatus::OK);  // no overflow past the total
  EXPECT_EQ(progress_.State().done, 5);
  EXPECT_EQ(bar.Increment(-1), CStatus::InvalidArgument);
  EXPECT_EQ(progress_.State().done, 5);
  ASSERT_FALSE(seen_.empty());
  EXPECT_EQ(seen_.front().event, host::ProgressState::Started);
  EXPECT_EQ(seen_.front().caption, "RaiseCity town.json");
  EXPECT_EQ(seen_.front().total, 5);
  EXPECT_EQ(seen_.front().done, 0);
}

TEST_F(Progress, TextAndStopReachTheDisplayAndLaterCallsAreIgnored) {
  ProgressBar bar;
  ASSERT_EQ(bar.Start(2, L"c"), CStatus::OK);
  EXPECT_EQ(bar.SetStatusText(L"lot 1: brick_1"), CStatus::OK);
  EXPECT_EQ(bar.Stop(), CStatus::OK);
  EXPECT_EQ(bar.Increment(), CStatus::OK);
  EXPECT_EQ(bar.SetStatusText(L"late"), CStatus::OK);
  ASSERT_EQ(seen_.size(), 3u);
  EXPECT_EQ(seen_[1].event, host::ProgressState::TextChanged);
  EXPECT_EQ(seen_[1].text, "lot 1: brick_1");
  EXPECT_EQ(seen_[2].event, host::ProgressState::Stopped);
  EXPECT_FALSE(seen_[2].running);
  EXPECT_EQ(progress_.State().done, 0);
}

TEST_F(Progress, ASecondStartRestartsTheCount) {
  ProgressBar bar;
  ASSERT_EQ(bar.Start(10, L"first"), CStatus::OK);
  bar.Increment(4);
  bar.SetStatusText(L"old text");
  ASSERT_EQ(bar.Start(3, L"second"), CStatus::OK);
  EXPECT_EQ(progress_.State().total, 3);
  EXPECT_EQ(progress_.State().done, 0);
  EXPECT_EQ(progress_.State().text.GetUtf8String(), "");
  EXPECT_EQ(seen_.back().caption, "second");
}

TEST_F(Progress, DestructorStopsOnlyWhatTheBarStarted) {
  {
    ProgressBar bar;
    ASSERT_EQ(bar.Start(3, L"scoped"), CStatus::OK);
  }
  ASSERT_FALSE(seen_.empty());
  EXPECT_EQ(seen_.back().event, host::ProgressState::Stopped);
  EXPECT_FALSE(progress_.State().running);

  ProgressBar running;
  ASSERT_EQ(running.Start(3, L"running"), CStatus::OK);
  { ProgressBar neverStarted; }
  EXPECT_TRUE(progress_.State().running);
  EXPECT_EQ(seen_.back().event, host::ProgressState::Started);
}

TEST_F(Progress, CancelIsSeenByEveryBarUntilTheHostClearsIt) {
  ProgressBar idle, bar;
  EXPECT_FALSE(idle.IsCancelled());
  progress_.RequestCancel();
  // A Ctrl-C that came before the command started its bar still counts.
  ASSERT_EQ(bar.Start(4, L"c"), CStatus::OK);
  EXPECT_TRUE(bar.IsCancelled());
  EXPECT_TRUE(idle.IsCancelled());
  bar.Stop();
  EXPECT_TRUE(bar.IsCancelled()) << "stopping the bar is not the host clearing the flag";
  progress_.ClearCancel();
  EXPECT_FALSE(bar.IsCancelled());
  EXPECT_FALSE(idle.IsCancelled());
}

TEST_F(Progress, AFailingDisplayDoesNotFailTheCommand) {
  progress_.SetSink([](const host::ProgressState&, host::ProgressState::Event) {
    throw std::runtime_error("terminal gone");
  });
  ProgressBar bar;
  EXPECT_EQ(bar.Start(2, L"c"), CStatus::OK);
  EXPECT_EQ(bar.Increment(), CStatus::OK);
  EXPECT_EQ(bar.SetStatusText(L"t"), CStatus::OK);
  EXPECT_EQ(bar.Stop(), CStatus::OK);
  EXPECT_EQ(progress_.State().done, 1);
}

TEST_F(Progress, HugeTotalsAndStepsDoNotOverflow) {
  ProgressBar bar;
  ASSERT_EQ(bar.Start(LONG_MAX, L"huge"), CStatus::OK);
  EXPECT_EQ(bar.Increment(LONG_MAX / 2 + 1), CStatus::OK);
  EXPECT_EQ(bar.Increment(LONG_MAX / 2 + 1), CStatus::OK);
  EXPECT_EQ(progress_.State().done, LONG_MAX);
  EXPECT_EQ(bar.Increment(1), CStatus::OK);
  EXPECT_EQ(progress_.State().done, LONG_MAX);
}

TEST_F(Progress, ABarStartedInsideAnotherRunKeepsQuietAndLeavesTheOuterOne) {
  ProgressBar outer;
  ASSERT_EQ(outer.Start(5, L"RaiseCity town.json"), CStatus::OK);
  outer.Increment(2);
  const std::size_t events = seen_.size();
  {
    // A command run from the outer command's loop, as RaiseTower from RaiseCity.
    ProgressBar inner;
    EXPECT_EQ(inner.Start(3, L"RaiseTower Big"), CStatus::OK);
    EXPECT_FALSE(inner.IsShown());
    EXPECT_TRUE(outer.IsShown());
    EXPECT_EQ(inner.Increment(), CStatus::OK);
    EXPECT_EQ(inner.SetStatusText(L"storey 2 of 3"), CStatus::OK);
    EXPECT_EQ(inner.Stop(), CStatus::OK);
  }  // and its destructor
  EXPECT_EQ(seen_.size(), events) << "the display heard nothing of the inner bar";
  EXPECT_TRUE(progress_.State().running);
  EXPECT_EQ(progress_.State().caption.GetUtf8String(), "RaiseCity town.json");
  EXPECT_EQ(progress_.State().done, 2);
  outer.Increment();
  EXPECT_EQ(progress_.State().done, 3);
  outer.Stop();
  // Once the outer run is over, a new bar shows again.
  ProgressBar next;
  ASSERT_EQ(next.Start(2, L"next"), CStatus::OK);
  EXPECT_TRUE(next.IsShown());
}

TEST_F(Progress, AHostScopeShowsAndCancelsOnlyWhenNothingElseRuns) {
  {
    host::ProgressScope save(progress_, L"SaveScene big.glb");
    EXPECT_TRUE(save.Report(1, 10, L"1 of 10 MiB written"));
    EXPECT_TRUE(progress_.State().running);
    EXPECT_EQ(progress_.State().caption.GetUtf8String(), "SaveScene big.glb");
    EXPECT_TRUE(save.Report(4, 10));
    EXPECT_EQ(progress_.State().done, 4);
    progress_.RequestCancel();
    EXPECT_FALSE(save.Report(5, 10)) << "a shown scope answers a cancel";
    EXPECT_TRUE(save.Cancelled());
    EXPECT_EQ(progress_.State().done, 4);
  }
  EXPECT_FALSE(progress_.State().running) << "the scope stops its bar when it goes";
  EXPECT_EQ(seen_.back().event, host::ProgressState::Stopped);

  // Under a plug-in's bar the scope keeps quiet and leaves the cancel to it.
  ProgressBar outer;
  ASSERT_EQ(outer.Start(3, L"outer"), CStatus::OK);
  const std::size_t events = seen_.size();
  {
    host::ProgressScope save(progress_, L"SaveScene x.glb");
    EXPECT_TRUE(save.Report(1, 10));
    EXPECT_FALSE(save.Cancelled());
  }
  EXPECT_EQ(seen_.size(), events);
  EXPECT_TRUE(outer.IsShown());
}
