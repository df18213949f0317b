#include "audio/player.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/track.h"
#include "tests/audio/failing_calloc.h"
#include "tests/audio/fake_engine_test.h"
#include "tests/audio/one_track_player.h"

namespace {

using fake_audio::FakeFileContents;
using fake_audio::FakeQueue;
using fake_audio::Op;
using fake_audio::QueueState;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr UInt64 kBufferFrames = 32768;

class PlayerTest : public engine_test::FakeEngineTest {
 protected:
  void TearDown() override {
    FreePlayer(player_);
    CloseTrack(&track_);
    FakeEngineTest::TearDown();
  }

  void LoadContents(const FakeFileContents& contents) {
    contents_ = contents;
    ASSERT_EQ(LoadTrack(&track_, WriteTrack("track.mp3", contents).c_str()), 0);
  }

  // A started Player over a track of `frames` stereo frames.
  void StartOver(UInt64 frames) {
    LoadContents(engine_test::ContentsWithFrames(frames));
    player_ = engine_test::CreateOneTrackPlayer(&track_);
    ASSERT_NE(player_, nullptr);
    ASSERT_TRUE(StartPlayer(player_));
  }

  void ExpectFlags(bool finished, bool running, bool paused) {
    EXPECT_EQ(player_->finished.load(), finished);
    EXPECT_EQ(player_->running.load(), running);
    EXPECT_EQ(player_->paused.load(), paused);
  }

  FakeQueue Queue() { return fake_audio::LastQueue(); }

  FakeFileContents contents_;
  AudioTrack track_;
  Player* player_ = nullptr;
};

TEST_F(PlayerTest, CreateWithoutASourceFailsQuietly) {
  std::string errors = engine_test::CaptureStderr(
      [] { EXPECT_EQ(CreatePlayer(AudioStreamBasicDescription{}, PcmSource{}), nullptr); });
  EXPECT_THAT(errors, IsEmpty());
  EXPECT_THAT(fake_audio::CallLog(), IsEmpty());
}

TEST_F(PlayerTest, CreateFailuresFreeWhatWasMade) {
  LoadContents(engine_test::ContentsWithFrames(1000));

  engine_test::FailNextCalloc(sizeof(Player));
  std::string errors = engine_test::CaptureStderr(
      [&] { EXPECT_EQ(engine_test::CreateOneTrackPlayer(&track_), nullptr); });
  EXPECT_EQ(errors, "Failed to allocate Player\n");
  EXPECT_EQ(fake_audio::QueueCount(), 0);

  fake_audio::FailNthCall(Op::kAudioQueueNewOutput, 1, kAudioQueueErr_InvalidDevice);
  errors = engine_test::CaptureStderr(
      [&] { EXPECT_EQ(engine_test::CreateOneTrackPlayer(&track_), nullptr); });
  EXPECT_THAT(errors, IsEmpty());
  EXPECT_EQ(fake_audio::QueueCount(), 0);

  fake_audio::FailNthCall(Op::kAudioQueueSetParameter, 1, kAudio_ParamError);
  errors = engine_test::CaptureStderr(
      [&] { EXPECT_EQ(engine_test::CreateOneTrackPlayer(&track_), nullptr); });
  EXPECT_THAT(errors, IsEmpty());
  EXPECT_EQ(Queue().state(), QueueState::kDisposed);
  EXPECT_THAT(fake_audio::CallLog(Op::kAudioQueueDispose),
              ElementsAre("AudioQueueDispose(immediate)"));
}

TEST_F(PlayerTest, MonoBuffersHoldHalfTheBytes) {
  LoadContents(engine_test::ContentsWithFrames(10 * kBufferFrames, 1));
  player_ = engine_test::CreateOneTrackPlayer(&track_);
  ASSERT_TRUE(StartPlayer(player_));
  EXPECT_THAT(Queue().allocated_capacities(), ElementsAre(65536U, 65536U, 65536U));
}

TEST_F(PlayerTest, StartRefusesAPlayerThatRunsOrHasEnded) {
  StartOver(10 * kBufferFrames);
  EXPECT_FALSE(StartPlayer(player_));
  player_->running.store(false);
  player_->finished.store(true);
  EXPECT_FALSE(StartPlayer(player_));
  EXPECT_EQ(fake_audio::CallCount(Op::kAudioQueueAllocateBuffer), 3);
}

TEST_F(PlayerTest, StartFailuresLeaveThePlayerForFree) {
  const FakeFileContents contents = engine_test::ContentsWithFrames(10 * kBufferFrames);
  for (int failing_buffer = 1; failing_buffer <= 3; ++failing_buffer) {
    CloseTrack(&track_);
    fake_audio::Reset();
    LoadContents(contents);
    fake_audio::FailNthCall(Op::kAudioQueueAllocateBuffer, failing_buffer, kAudio_MemFullError);
    player_ = engine_test::CreateOneTrackPlayer(&track_);
    EXPECT_FALSE(StartPlayer(player_));
    EXPECT_FALSE(player_->running.load());
    EXPECT_EQ(fake_audio::CallCount(Op::kAudioQueueStart), 0);
    EXPECT_EQ(Queue().queued_count(), failing_buffer - 1);
    FreePlayer(player_);
    player_ = nullptr;
    EXPECT_EQ(fake_audio::CallCount(Op::kAudioQueueStop), 0) << "nothing ran, nothing to stop";
    EXPECT_EQ(Queue().state(), QueueState::kDisposed);
  }

  fake_audio::FailNthCall(Op::kAudioQueueStart, 1, kAudioQueueErr_CannotStart);
  player_ = engine_test::CreateOneTrackPlayer(&track_);
  EXPECT_FALSE(StartPlayer(player_));
  EXPECT_FALSE(player_->running.load());
}

TEST_F(PlayerTest, PlaysEveryFrameInOrderThenEnds) {
  const UInt64 frames = 5 * kBufferFrames + 1234;
  StartOver(frames);
  FakeQueue queue = Queue();

  int played = queue.PlayUntilDrained();

  EXPECT_EQ(played, 6);
  EXPECT_EQ(queue.played_samples(), fake_audio::FakePcm(contents_, 0, frames));
  ExpectFlags(true, false, false);
  EXPECT_EQ(queue.state(), QueueState::kStopped);
  EXPECT_THAT(fake_audio::CallLog(Op::kAudioQueueStop), ElementsAre("AudioQueueStop(deferred)"));
  EXPECT_EQ(PlayerCurrentTime(player_), -1);
}

TEST_F(PlayerTest, TrackShorterThanOneBufferIsFinishedAndRunningAtOnce) {
  StartOver(1000);

  ExpectFlags(true, true, false);
  EXPECT_EQ(fake_audio::CallCount(Op::kAudioQueueAllocateBuffer), 2);
  EXPECT_EQ(Queue().queued_count(), 1);
  EXPECT_THAT(fake_audio::CallLog(Op::kAudioQueueStart), ElementsAre("AudioQueueStart"));

  Queue().PlayUntilDrained();
  EXPECT_EQ(Queue().played_samples(), fake_audio::FakePcm(contents_, 0, 1000));
  EXPECT_EQ(Queue().state(), QueueState::kStopped);
}

TEST_F(PlayerTest, ReadErrorEndsTheTrackLikeTheEndOfData) {
  FakeFileContents contents = engine_test::ContentsWithFrames(10 * kBufferFrames);
  contents.read_error_after_frames = 4 * kBufferFrames;
  LoadContents(contents);
  player_ = engine_test::CreateOneTrackPlayer(&track_);
  ASSERT_TRUE(StartPlayer(player_));

  Queue().PlayUntilDrained();

  ExpectFlags(true, false, false);
  EXPECT_EQ(Queue().played_samples(), fake_audio::FakePcm(contents_, 0, 4 * kBufferFrames));
}

// Buffers handed back after the end are ignored, and the Player is played out only once the
// last one is back.
TEST_F(PlayerTest, PlayedOutOnlyOnceTheLastQueuedBufferIsBack) {
  StartOver(kBufferFrames * 3 + 10);
  FakeQueue queue = Queue();
  queue.PlayHeadBuffer();  // Refills with the last 10 frames.
  EXPECT_FALSE(PlayerPlayedOut(player_));
  queue.PlayHeadBuffer();  // Finds the end.
  ASSERT_TRUE(player_->finished.load());
  ASSERT_EQ(queue.queued_count(), 2);
  const int reads = fake_audio::CallCount(Op::kExtAudioFileRead);
  const int enqueued = queue.enqueue_count();
  for (int left = queue.queued_count(); left > 0; --left) {
    EXPECT_FALSE(PlayerPlayedOut(player_)) << left << " buffers are still to be heard";
    ASSERT_TRUE(queue.PlayHeadBuffer());
  }
  EXPECT_TRUE(PlayerPlayedOut(player_));
  EXPECT_EQ(fake_audio::CallCount(Op::kExtAudioFileRead), reads) << "buffers back after the end";
  EXPECT_EQ(queue.enqueue_count(), enqueued);
  EXPECT_EQ(queue.played_samples(), fake_audio::FakePcm(contents_, 0, kBufferFrames * 3 + 10));
}

TEST_F(PlayerTest, ATrackWithoutFramesIsPlayedOutAtOnce) {
  StartOver(0);
  ExpectFlags(true, true, false);
  EXPECT_EQ(Queue().queued_count(), 0);
  EXPECT_TRUE(PlayerPlayedOut(player_));
}

TEST_F(PlayerTest, ABufferTheQueueRefusedIsNotWaitedFor) {
  fake_audio::FailNthCall(Op::kAudioQueueEnqueueBuffer, 2, kAudioQueueErr_InvalidBuffer);
  StartOver(kBufferFrames * 2 + 10);
  FakeQueue queue = Queue();
  ASSERT_EQ(queue.queued_count(), 2);

  queue.PlayUntilDrained();

  ExpectFlags(true, false, false);
  EXPECT_TRUE(PlayerPlayedOut(player_)) << "a Player would wait for a buffer never queued";
}

// The server takes a moment to take a pause, and plays on meanwhile: the position goes on from
// where the sound stopped, not from where the pause was asked for.
TEST_F(PlayerTest, PositionGoesOnFromThePauseAfterTheResume) {
  StartOver(100 * kBufferFrames);
  FakeQueue queue = Queue();
  queue.set_sample_time(88200);
  fake_audio::BeforeNextCall(Op::kAudioQueuePause, [&] { queue.set_sample_time(88200 + 441); });
  PausePlayer(player_);
  ExpectFlags(false, true, true);
  EXPECT_EQ(queue.state(), QueueState::kPaused);
  EXPECT_DOUBLE_EQ(player_->paused_at, 2.01);

  ResumePlayer(player_);
  ExpectFlags(false, true, false);
  EXPECT_THAT(fake_audio::CallLog(Op::kAudioQueueStart),
              ElementsAre("AudioQueueStart", "AudioQueueStart(at=88641)"));
  EXPECT_DOUBLE_EQ(PlayerCurrentTime(player_), 2.01);
  queue.set_sample_time(88200 + 44100);
  EXPECT_DOUBLE_EQ(PlayerCurrentTime(player_), 3.0);
  EXPECT_DOUBLE_EQ(player_->paused_total, 0.0);
}

TEST_F(PlayerTest, FailedPauseLeavesTheOutputPlaying) {
  StartOver(100 * kBufferFrames);
  fake_audio::FailNthCall(Op::kAudioQueueGetCurrentTime, 1, kAudioQueueErr_InvalidRunState);
  PausePlayer(player_);
  EXPECT_EQ(fake_audio::CallCount(Op::kAudioQueuePause), 0);
  EXPECT_FALSE(player_->paused.load());

  Queue().set_sample_time(44100);
  fake_audio::FailNthCall(Op::kAudioQueuePause, 1, kAudioQueueErr_InvalidRunState);
  PausePlayer(player_);
  EXPECT_FALSE(player_->paused.load());
  EXPECT_DOUBLE_EQ(player_->paused_at, 1.0);
  EXPECT_EQ(Queue().state(), QueueState::kRunning);
}

TEST_F(PlayerTest, FailedResumeStaysPaused) {
  StartOver(100 * kBufferFrames);
  PausePlayer(player_);
  fake_audio::FailNthCall(Op::kAudioQueueStart, 2, kAudioQueueErr_CannotStart);
  ResumePlayer(player_);
  EXPECT_TRUE(player_->paused.load());
  EXPECT_EQ(Queue().state(), QueueState::kPaused);

  int time_calls = fake_audio::CallCount(Op::kAudioQueueGetCurrentTime);
  fake_audio::FailNthCall(Op::kAudioQueueGetCurrentTime, time_calls + 1, kAudio_ParamError);
  ResumePlayer(player_);
  EXPECT_TRUE(player_->paused.load());
  EXPECT_EQ(player_->paused_total, 0.0);
}

TEST_F(PlayerTest, PositionRunsOnWhileTheEndedTrackIsStillHeard) {
  StartOver(5 * kBufferFrames);
  FakeQueue queue = Queue();
  EXPECT_EQ(PlayerCurrentTime(player_), 0.0);
  queue.PlayHeadBuffer();
  queue.PlayHeadBuffer();
  queue.PlayHeadBuffer();
  ASSERT_TRUE(player_->finished.load());
  ASSERT_FALSE(PlayerPlayedOut(player_));
  queue.set_sample_time(4.0 * kBufferFrames);
  EXPECT_DOUBLE_EQ(PlayerCurrentTime(player_), 4.0 * kBufferFrames / 44100);
  queue.PlayUntilDrained();
  ASSERT_TRUE(PlayerPlayedOut(player_));
  EXPECT_EQ(PlayerCurrentTime(player_), -1);
}

TEST_F(PlayerTest, PositionIsMinusOneWhenTheQueueCannotTell) {
  StartOver(100 * kBufferFrames);
  fake_audio::FailNthCall(Op::kAudioQueueGetCurrentTime, 1, kAudio_ParamError);
  EXPECT_EQ(PlayerCurrentTime(player_), -1);
}

TEST_F(PlayerTest, BufferThatComesBackWhileResumingIsRefilled) {
  const UInt64 frames = 12 * kBufferFrames + 77;
  StartOver(frames);
  FakeQueue queue = Queue();
  queue.PlayHeadBuffer();
  PausePlayer(player_);
  // The queue has restarted and plays a buffer before ResumePlayer has cleared `paused`.
  bool paused_when_handed_back = false;
  fake_audio::BeforeNextCall(Op::kAudioQueueGetCurrentTime, [&] {
    paused_when_handed_back = player_->paused.load();
    queue.PlayHeadBuffer();
  });
  int reads = fake_audio::CallCount(Op::kExtAudioFileRead);

  ResumePlayer(player_);

  EXPECT_TRUE(paused_when_handed_back);
  EXPECT_EQ(fake_audio::CallCount(Op::kExtAudioFileRead), reads + 1);
  EXPECT_EQ(queue.queued_count(), 3);
  queue.PlayUntilDrained();
  EXPECT_TRUE(player_->finished.load());
  EXPECT_EQ(queue.played_samples(), fake_audio::FakePcm(contents_, 0, frames));
}

TEST_F(PlayerTest, HundredsOfPausesStillPlayTheWholeTrack) {
  const UInt64 frames = 60 * kBufferFrames + 5;  // Outlasts the buffers played below.
  StartOver(frames);
  FakeQueue queue = Queue();
  for (int cycle = 0; cycle < 300; ++cycle) {
    PausePlayer(player_);
    fake_audio::BeforeNextCall(Op::kAudioQueueGetCurrentTime, [&] {
      if (cycle % 7 == 0) {
        queue.PlayHeadBuffer();
      }
    });
    ResumePlayer(player_);
    ASSERT_FALSE(player_->paused.load());
  }

  queue.PlayUntilDrained();

  EXPECT_TRUE(player_->finished.load());
  EXPECT_EQ(queue.played_samples(), fake_audio::FakePcm(contents_, 0, frames));
}

TEST_F(PlayerTest, FreeDisposesEvenWhenTheStopFails) {
  StartOver(100 * kBufferFrames);
  fake_audio::FailNthCall(Op::kAudioQueueStop, 1, kAudioQueueErr_InvalidRunState);
  Player* player = player_;
  player_ = nullptr;
  FreePlayer(player);
  EXPECT_EQ(Queue().state(), QueueState::kDisposed);
}

// A Player that follows another starts the moment the other has been heard out, on the thread
// that hands back its last buffer; a pause before then holds it, and a stop starts nothing.
class FollowerTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    ASSERT_EQ(LoadTrack(&next_track_, WriteTrack("next.mp3", next_contents_).c_str()), 0);
  }
  void TearDown() override {
    FreePlayer(follower_);
    CloseTrack(&next_track_);
    PlayerTest::TearDown();
  }

  // A primed follower of the started Player; its queue.
  FakeQueue PrimeFollower() {
    follower_ = engine_test::CreateOneTrackPlayer(&next_track_);
    EXPECT_TRUE(PrimePlayer(follower_));
    return fake_audio::LastQueue();
  }

  FakeFileContents next_contents_ = engine_test::ContentsWithFrames(2 * kBufferFrames, 1, 7);
  AudioTrack next_track_;
  Player* follower_ = nullptr;
};

TEST_F(FollowerTest, StartsTheMomentThePlayerBeforeItIsHeardOut) {
  StartOver(2 * kBufferFrames + 10);
  FakeQueue first = Queue();
  FakeQueue second = PrimeFollower();
  FollowPlayer(follower_, player_);
  first.PlayHeadBuffer();
  first.PlayHeadBuffer();
  EXPECT_EQ(second.state(), QueueState::kIdle) << "the end is not heard yet";
  ASSERT_TRUE(first.PlayHeadBuffer());
  ASSERT_TRUE(PlayerPlayedOut(player_));
  EXPECT_EQ(second.state(), QueueState::kRunning);
  EXPECT_TRUE(follower_->started.load());
  EXPECT_EQ(PlayerCurrentTime(follower_), 0.0);

  // One told to follow a Player heard out already starts at once.
  AudioTrack late_track;
  ASSERT_EQ(LoadTrack(&late_track, WriteTrack("late.mp3", next_contents_).c_str()), 0);
  Player* late = engine_test::CreateOneTrackPlayer(&late_track);
  ASSERT_TRUE(PrimePlayer(late));
  FakeQueue third = fake_audio::LastQueue();
  FollowPlayer(late, player_);
  EXPECT_EQ(third.state(), QueueState::kRunning);
  FreePlayer(late);
  CloseTrack(&late_track);
}

TEST_F(FollowerTest, APauseHoldsItUntilTheResume) {
  StartOver(1000);
  FakeQueue first = Queue();
  FakeQueue second = PrimeFollower();
  FollowPlayer(follower_, player_);
  PausePlayer(follower_);
  EXPECT_TRUE(follower_->paused.load());
  EXPECT_EQ(fake_audio::CallCount(Op::kAudioQueuePause), 0) << "nothing to pause yet";

  first.PlayUntilDrained();
  ASSERT_TRUE(PlayerPlayedOut(player_));
  EXPECT_EQ(second.state(), QueueState::kIdle) << "held where it begins";
  EXPECT_EQ(PlayerCurrentTime(follower_), -1);

  ResumePlayer(follower_);
  EXPECT_EQ(second.state(), QueueState::kRunning);
  EXPECT_FALSE(follower_->paused.load());
  second.PlayUntilDrained();
  EXPECT_EQ(second.played_samples(), fake_audio::FakePcm(next_contents_, 0, 2 * kBufferFrames));
}

TEST_F(FollowerTest, AStoppedPlayerStartsNothing) {
  StartOver(10 * kBufferFrames);
  FakeQueue second = PrimeFollower();
  FollowPlayer(follower_, player_);
  FreePlayer(player_);
  player_ = nullptr;
  EXPECT_EQ(second.state(), QueueState::kIdle);
  // It follows nothing now: it starts when told, as any primed Player does.
  ASSERT_TRUE(StartPlayer(follower_));
  EXPECT_EQ(second.state(), QueueState::kRunning);
}

}  // namespace
