#include "app/global_keys.h"

#include <memory>

#include <gtest/gtest.h>

#include "audio/playback_state.h"
#include "tests/audio/fake_engine_test.h"
#include "tests/audio/sequence_driver.h"

namespace {

using tui::Event;

class HandleGlobalEventTest : public engine_test::FakeEngineTest {
 protected:
  void TearDown() override {
    owned_playback_.reset();
    FakeEngineTest::TearDown();
  }

  void Play() {
    ASSERT_TRUE(
        LoadAndPlay(playback_, WriteTrack("a.mp3", engine_test::ContentsWithFrames(441000))));
    StepPlayback(playback_, engine_test::NoListing());
  }

  bool HeardPaused() {
    playback_.sequence.Snapshot(playback_.heard);
    return playback_.heard.paused;
  }

  // Gone before the fake is checked: its loader's readers end with it.
  std::unique_ptr<PlaybackState> owned_playback_ = std::make_unique<PlaybackState>();
  PlaybackState& playback_ = *owned_playback_;
  FileBrowserState browser_;
  tui::ScreenInteractive screen_ = tui::ScreenInteractive::FixedSize(80, 24);
  HandleGlobalEvent handle_{browser_, playback_, screen_};
};

TEST_F(HandleGlobalEventTest, WithoutTheOverlayOnlySpaceAndEscapeAreTaken) {
  EXPECT_TRUE(handle_(Event::Character(' ')));
  EXPECT_FALSE(browser_.paused);
  for (const Event& passed : {Event::Tab, Event::Return, Event::ArrowDown, Event::Custom,
                              Event::Character('q'), Event::PageDown}) {
    EXPECT_FALSE(handle_(passed)) << passed.input();
  }
  EXPECT_FALSE(screen_.ExitRequested());
  EXPECT_TRUE(handle_(Event::Escape));
  EXPECT_TRUE(screen_.ExitRequested());
}

TEST_F(HandleGlobalEventTest, SpacePausesAndResumesARunningPlayer) {
  Play();
  EXPECT_TRUE(handle_(Event::Character(' ')));
  EXPECT_TRUE(browser_.paused);
  EXPECT_TRUE(HeardPaused());
  EXPECT_EQ(fake_audio::LastQueue().state(), fake_audio::QueueState::kPaused);
  EXPECT_TRUE(handle_(Event::Character(" ")));
  EXPECT_FALSE(browser_.paused);
  EXPECT_FALSE(HeardPaused());
  EXPECT_EQ(fake_audio::LastQueue().state(), fake_audio::QueueState::kRunning);
}

// Heard out with nothing to follow: there is nothing to pause, and the ended queue is neither
// paused nor resumed empty.
TEST_F(HandleGlobalEventTest, SpaceAfterTheEndWithNothingToFollowChangesNothing) {
  Play();
  fake_audio::LastQueue().PlayUntilDrained();
  ASSERT_EQ(fake_audio::LastQueue().state(), fake_audio::QueueState::kStopped);
  EXPECT_TRUE(handle_(Event::Character(' ')));
  EXPECT_FALSE(browser_.paused);
  EXPECT_EQ(fake_audio::CallCount(fake_audio::Op::kAudioQueuePause), 0);
  EXPECT_EQ(fake_audio::CallCount(fake_audio::Op::kAudioQueueStart), 1);
}

// The data has ended; the queue still holds buffers that are yet to be heard.
TEST_F(HandleGlobalEventTest, SpacePausesAndResumesTheLastBuffersOfATrack) {
  Play();
  fake_audio::FakeQueue queue = fake_audio::LastQueue();
  while (!queue.stop_pending()) {
    ASSERT_TRUE(queue.PlayHeadBuffer());
  }
  ASSERT_GT(queue.queued_count(), 0);
  EXPECT_TRUE(handle_(Event::Character(' ')));
  EXPECT_TRUE(browser_.paused);
  EXPECT_EQ(queue.state(), fake_audio::QueueState::kPaused);
  EXPECT_TRUE(handle_(Event::Character(' ')));
  EXPECT_FALSE(browser_.paused);
  EXPECT_EQ(queue.state(), fake_audio::QueueState::kRunning);
  queue.PlayUntilDrained();
  EXPECT_EQ(queue.state(), fake_audio::QueueState::kStopped);
}

// Space saw the Player running just before the last refill ended the data, so the pause landed
// after it: the next Space must resume, or the queued buffers never play out.
TEST_F(HandleGlobalEventTest, APauseThatMetTheEndOfTheDataIsUndone) {
  Play();
  fake_audio::FakeQueue queue = fake_audio::LastQueue();
  while (!queue.stop_pending()) {
    ASSERT_TRUE(queue.PlayHeadBuffer());
  }
  ASSERT_TRUE(playback_.sequence.PauseHeard());
  browser_.paused = true;
  ASSERT_EQ(queue.state(), fake_audio::QueueState::kPaused);
  queue.PlayUntilDrained();
  ASSERT_NE(queue.state(), fake_audio::QueueState::kStopped);
  EXPECT_TRUE(handle_(Event::Character(' ')));
  EXPECT_FALSE(browser_.paused);
  queue.PlayUntilDrained();
  EXPECT_EQ(queue.state(), fake_audio::QueueState::kStopped);
}

TEST_F(HandleGlobalEventTest, TheToggleFlipsEvenWhenTheOutputRefusesToPause) {
  Play();
  fake_audio::FailEveryCall(fake_audio::Op::kAudioQueuePause, kAudioQueueErr_InvalidRunState);
  EXPECT_TRUE(handle_(Event::Character(' ')));
  EXPECT_TRUE(browser_.paused);
  EXPECT_FALSE(HeardPaused());
}

TEST_F(HandleGlobalEventTest, TheOverlayTakesEveryEventAndClosesOnEscapeOrTab) {
  Play();
  browser_.show_metadata = true;
  for (const Event& swallowed : {Event::Character(' '), Event::Return, Event::ArrowDown,
                                 Event::Custom, Event::Character('x')}) {
    EXPECT_TRUE(handle_(swallowed)) << swallowed.input();
    EXPECT_TRUE(browser_.show_metadata);
  }
  EXPECT_FALSE(browser_.paused) << "space must not pause under the overlay";
  EXPECT_TRUE(handle_(Event::Escape));
  EXPECT_FALSE(browser_.show_metadata);
  EXPECT_FALSE(screen_.ExitRequested()) << "the first Escape only closes the overlay";
  browser_.show_metadata = true;
  EXPECT_TRUE(handle_(Event::Tab));
  EXPECT_FALSE(browser_.show_metadata);
  EXPECT_TRUE(handle_(Event::Escape));
  EXPECT_TRUE(screen_.ExitRequested());
}

}  // namespace
