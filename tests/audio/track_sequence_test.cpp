// The sequence of tracks against the fake platform: the test plays the queue's buffers by hand
// and steps the sequence as the screen's passes do; the loader reads on its own thread.

#include "audio/track_sequence.h"

#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/playback_state.h"
#include "tests/audio/fake_engine_test.h"
#include "tests/audio/sequence_driver.h"

namespace {

using engine_test::NameNextAndStep;
using engine_test::StepUntil;
using fake_audio::FakeFileContents;
using fake_audio::FakeQueue;
using fake_audio::QueueState;
using ::testing::ElementsAre;
using ::testing::Field;

constexpr UInt64 kBufferFrames = 32768;

Successor SuccessorOf(TrackSequence& sequence) {
  std::lock_guard<std::mutex> lock(sequence.mutex);
  return sequence.successor;
}

class TrackSequenceTest : public engine_test::FakeEngineTest {
 protected:
  void TearDown() override {
    StopPlayback(state_);
    FakeEngineTest::TearDown();
  }

  // Writes a track of `frames` frames, and keeps its PCM under its name.
  std::string Track(const std::string& name, UInt64 frames, UInt32 channels = 2) {
    const FakeFileContents contents = engine_test::ContentsWithFrames(frames, channels, ++seed_);
    const std::vector<int16_t> pcm = fake_audio::FakePcm(contents, 0, frames);
    pcm_[name] = pcm;
    return WriteTrack(name, contents);
  }

  std::vector<int16_t> PcmOf(const std::vector<std::string>& names) {
    std::vector<int16_t> joined;
    for (const std::string& name : names) {
      joined.insert(joined.end(), pcm_[name].begin(), pcm_[name].end());
    }
    return joined;
  }

  // Names `path` to follow, and steps until the loader's answer has been taken.
  void NameNext(const std::string& path) {
    NameNextAndStep(state_, path);
    ASSERT_TRUE(StepUntil(state_, [&] { return SuccessorOf(state_) != Successor::kReading; }));
  }

  // Plays the queue's buffers one by one, stepping after each and naming what follows the
  // track decoded last by `album`, until the queue holds nothing to play.
  void PlayAlbum(FakeQueue queue, const std::vector<std::string>& album) {
    for (int guard = 0; guard < 10000; ++guard) {
      Step(album);
      if (!queue.PlayHeadBuffer()) {
        Step(album);
        if (!queue.PlayHeadBuffer()) {
          return;
        }
      }
    }
    FAIL() << "the album never ended";
  }

  void Step(const std::vector<std::string>& album) {
    SequenceChange change = engine_test::NameNextInAlbumAndStep(state_, album);
    if (change.kind != SequenceChangeKind::kNone) {
      changes_.push_back(std::move(change));
    }
    StepUntil(
        state_, [&] { return SuccessorOf(state_) != Successor::kReading; }, &changes_);
  }

  PlaybackState state_;
  std::map<std::string, std::vector<int16_t>> pcm_;
  std::vector<SequenceChange> changes_;
  UInt32 seed_ = 0;
};

// Tracks of one shape, one shorter than a buffer and the first shorter than what is primed:
// one stream, every sample once and in order, and the screen moves on as each is heard.
TEST_F(TrackSequenceTest, TracksOfOneShapeJoinOnOneStreamSampleForSample) {
  const std::vector<std::string> album = {Track("a.mp3", kBufferFrames + 11), Track("b.mp3", 900),
                                          Track("c.mp3", 4 * kBufferFrames)};
  ASSERT_TRUE(LoadAndPlay(state_, album[0]));
  FakeQueue queue = fake_audio::LastQueue();

  PlayAlbum(queue, album);

  EXPECT_EQ(queue.played_samples(), PcmOf({"a.mp3", "b.mp3", "c.mp3"}));
  EXPECT_EQ(fake_audio::QueueCount(), 1);
  EXPECT_THAT(changes_, ElementsAre(Field(&SequenceChange::path, album[1]),
                                    Field(&SequenceChange::path, album[2]),
                                    Field(&SequenceChange::kind, SequenceChangeKind::kEnded)));
  EXPECT_TRUE(state_.track_loaded) << "the ended track stays in place";
  EXPECT_EQ(state_.now_playing, album[2]);
}

// The next file is read as soon as a track starts, long before its data ends.
TEST_F(TrackSequenceTest, TheNextFileIsReadAsSoonAsATrackStarts) {
  const std::string a = Track("a.mp3", 20 * kBufferFrames);
  const std::string b = Track("b.mp3", kBufferFrames);
  ASSERT_TRUE(LoadAndPlay(state_, a));
  NameNext(b);
  EXPECT_EQ(SuccessorOf(state_), Successor::kJoins);
  EXPECT_EQ(fake_audio::LastQueue().enqueue_count(), 3) << "only the primed buffers so far";
}

// A file that arrives after the data before it has ended still joins right after its last frame.
TEST_F(TrackSequenceTest, AFileReadAfterTheDataEndedStillJoinsWhereItEnded) {
  const std::string a = Track("a.mp3", kBufferFrames + 5);
  const std::string b = Track("b.mp3", 2 * kBufferFrames);
  ASSERT_TRUE(LoadAndPlay(state_, a));
  FakeQueue queue = fake_audio::LastQueue();
  ASSERT_TRUE(queue.PlayHeadBuffer());
  ASSERT_TRUE(queue.PlayHeadBuffer());
  EXPECT_FALSE(state_.player->finished) << "it waits for what follows";

  NameNext(b);
  PlayAlbum(queue, {a, b});

  EXPECT_EQ(queue.played_samples(), PcmOf({"a.mp3", "b.mp3"}));
}

// A file that opens but holds no frame is passed over; a folder of nothing else is gone
// through once, not for ever.
TEST_F(TrackSequenceTest, AHollowFileIsPassedOver) {
  const std::vector<std::string> album = {Track("a.mp3", kBufferFrames), Track("hollow.wav", 0),
                                          Track("c.mp3", kBufferFrames)};
  ASSERT_TRUE(LoadAndPlay(state_, album[0]));
  PlayAlbum(fake_audio::LastQueue(), album);
  EXPECT_EQ(fake_audio::LastQueue().played_samples(), PcmOf({"a.mp3", "c.mp3"}));
  EXPECT_EQ(state_.now_playing, album[2]);

  const std::vector<std::string> hollow = {Track("h1.wav", 0), Track("h2.wav", 0)};
  ASSERT_TRUE(LoadAndPlay(state_, hollow[0]));
  PlayAlbum(fake_audio::LastQueue(), {hollow[0], hollow[1], hollow[0]});
  EXPECT_TRUE(PlayerPlayedOut(state_.player));
  EXPECT_EQ(changes_.back().kind, SequenceChangeKind::kEnded);
}

// Another shape needs a stream of its own: made and primed while the ended one plays out,
// started the moment it has been heard out, before the main thread's next pass.
TEST_F(TrackSequenceTest, AnotherShapeGetsAStreamPrimedWhileTheEndedOneIsHeard) {
  const std::string stereo = Track("a.mp3", 4 * kBufferFrames + 3);
  const std::string mono = Track("b.mp3", 3 * kBufferFrames, 1);
  ASSERT_TRUE(LoadAndPlay(state_, stereo));
  FakeQueue first = fake_audio::LastQueue();
  NameNext(mono);
  EXPECT_EQ(fake_audio::QueueCount(), 1) << "not while the data before it lasts";
  while (fake_audio::QueueCount() == 1 && first.PlayHeadBuffer()) {
    EXPECT_EQ(StepPlayback(state_).kind, SequenceChangeKind::kNone);
  }
  ASSERT_EQ(fake_audio::QueueCount(), 2);
  FakeQueue second = fake_audio::LastQueue();
  EXPECT_EQ(second.state(), QueueState::kIdle);
  EXPECT_EQ(second.queued_count(), 3);
  EXPECT_GT(first.queued_count(), 0) << "made while the ended stream is still heard";

  first.PlayUntilDrained();
  EXPECT_EQ(second.state(), QueueState::kRunning) << "started as the end was heard";
  // Space before the main thread's next pass pauses the one that is heard now.
  PauseHeard(state_);
  EXPECT_EQ(second.state(), QueueState::kPaused);
  const SequenceChange change = StepPlayback(state_);
  EXPECT_EQ(change.kind, SequenceChangeKind::kMovedOn);
  EXPECT_EQ(change.path, mono);
  EXPECT_EQ(first.state(), QueueState::kDisposed);
  EXPECT_EQ(first.played_samples(), PcmOf({"a.mp3"}));
  EXPECT_TRUE(state_.player->paused);
  ResumeHeard(state_);
  EXPECT_EQ(second.state(), QueueState::kRunning);
}

// Space as the ended track is heard out, while the next is still being read: it starts held
// where it begins, and shows 00:00 until Space again.
TEST_F(TrackSequenceTest, APauseAfterTheEndHoldsWhatFollowsAtItsStart) {
  const std::string stereo = Track("a.mp3", 1000);
  const std::string mono = Track("b.mp3", kBufferFrames, 1);
  ASSERT_TRUE(LoadAndPlay(state_, stereo));
  FakeQueue first = fake_audio::LastQueue();
  NameNext("");
  first.PlayUntilDrained();
  ASSERT_TRUE(PlayerPlayedOut(state_.player));
  OfferNextFile(state_, TrackWantingSuccessor(state_), mono);
  ASSERT_TRUE(HeardCanPause(state_));
  PauseHeard(state_);

  std::vector<SequenceChange> changes;
  ASSERT_TRUE(StepUntil(
      state_, [&] { return !changes.empty(); }, &changes));
  EXPECT_EQ(changes[0].kind, SequenceChangeKind::kMovedOn);
  FakeQueue second = fake_audio::LastQueue();
  EXPECT_EQ(second.state(), QueueState::kIdle);
  EXPECT_EQ(HeardPosition(state_), 0.0);
  ResumeHeard(state_);
  EXPECT_EQ(second.state(), QueueState::kRunning);
  EXPECT_FALSE(state_.player->paused);
}

// A chosen file is read while what plays plays on, and replaces it once it is there; a later
// choice takes the place of an earlier one still being read.
TEST_F(TrackSequenceTest, AChosenFileReplacesWhatPlaysOnceItHasBeenRead) {
  const std::string a = Track("a.mp3", 20 * kBufferFrames);
  const std::string b = Track("b.mp3", kBufferFrames);
  const std::string c = Track("c.mp3", kBufferFrames);
  ASSERT_TRUE(LoadAndPlay(state_, a));
  FakeQueue first = fake_audio::LastQueue();
  ChooseTrack(state_, b);
  ChooseTrack(state_, c);
  EXPECT_EQ(first.state(), QueueState::kRunning) << "the old track plays on meanwhile";

  std::vector<SequenceChange> changes;
  ASSERT_TRUE(StepUntil(
      state_, [&] { return !changes.empty(); }, &changes));
  EXPECT_EQ(changes[0].kind, SequenceChangeKind::kStarted);
  EXPECT_EQ(changes[0].path, c);
  EXPECT_EQ(state_.now_playing, c);
  EXPECT_EQ(first.state(), QueueState::kDisposed);
  EXPECT_EQ(fake_audio::QueueCount(), 2) << "b was never started";
}

// Failures are told when they take effect: a chosen file's at once, a next file's once the
// track before it has been heard out. Nothing plays afterwards.
TEST_F(TrackSequenceTest, FailedFilesAreToldWhenTheyTakeEffect) {
  const std::string a = Track("a.mp3", kBufferFrames);
  const std::string missing = dir_ / "gone.mp3";
  ASSERT_TRUE(LoadAndPlay(state_, a));
  std::vector<SequenceChange> changes;
  std::string errors = engine_test::CaptureStderr([&] {
    NameNext(missing);
    EXPECT_EQ(SuccessorOf(state_), Successor::kFailed);
  });
  EXPECT_EQ(errors, "") << "not before it takes effect";
  errors = engine_test::CaptureStderr([&] {
    fake_audio::LastQueue().PlayUntilDrained();
    ASSERT_TRUE(StepUntil(
        state_, [&] { return !changes.empty(); }, &changes));
  });
  EXPECT_EQ(changes[0].kind, SequenceChangeKind::kStopped);
  EXPECT_EQ(errors,
            "Failed to open file: No such file or directory\nFailed to load: " + missing + "\n");
  EXPECT_FALSE(state_.track_loaded);

  ASSERT_TRUE(LoadAndPlay(state_, a));
  changes.clear();
  errors = engine_test::CaptureStderr([&] {
    ChooseTrack(state_, missing);
    ASSERT_TRUE(StepUntil(
        state_, [&] { return !changes.empty(); }, &changes));
  });
  EXPECT_EQ(changes[0].kind, SequenceChangeKind::kStopped);
  EXPECT_EQ(errors,
            "Failed to open file: No such file or directory\nFailed to load: " + missing + "\n");
  EXPECT_EQ(state_.player, nullptr);
}

}  // namespace
