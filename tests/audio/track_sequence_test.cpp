// The sequence of tracks against the fake platform: the test plays the queues' buffers by hand
// and steps the sequence as the screen's passes do; the loader reads on threads of its own, and
// a read can be held where storage that does not answer would hold it.

#include "audio/track_sequence.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/audio/fake_engine_test.h"
#include "tests/audio/held_read.h"
#include "tests/audio/sequence_driver.h"

namespace {

using engine_test::AlbumListing;
using engine_test::HeldRead;
using engine_test::NoListing;
using fake_audio::FakeFileContents;
using fake_audio::FakeQueue;
using fake_audio::QueueState;
using ::testing::ElementsAre;
using ::testing::Field;

constexpr UInt64 kBufferFrames = 32768;

class TrackSequenceTest : public engine_test::FakeEngineTest {
 protected:
  void TearDown() override {
    sequence_.reset();
    FakeEngineTest::TearDown();
  }

  // Writes a track of `frames` frames, and keeps its PCM under its name.
  std::string Track(const std::string& name, UInt64 frames, UInt32 channels = 2) {
    const FakeFileContents contents = engine_test::ContentsWithFrames(frames, channels, ++seed_);
    pcm_[name] = fake_audio::FakePcm(contents, 0, frames);
    return WriteTrack(name, contents);
  }

  std::vector<int16_t> PcmOf(const std::vector<std::string>& names) {
    std::vector<int16_t> joined;
    for (const std::string& name : names) {
      joined.insert(joined.end(), pcm_[name].begin(), pcm_[name].end());
    }
    return joined;
  }

  // A new sequence, with its own memory for files, and the record of the last one forgotten.
  void NewSequence(std::int64_t file_budget = MemoryForFiles()) {
    sequence_ = std::make_unique<TrackSequence>(file_budget);
    changes_.clear();
    queues_.clear();
    queues_seen_ = fake_audio::QueueCount();
  }

  void Play(const std::string& path) {
    ASSERT_TRUE(sequence_->PlayNow(path));
    NoteNewQueues();
  }

  // Queues are made one at a time, a pass apart at least.
  void NoteNewQueues() {
    if (queues_seen_ < fake_audio::QueueCount()) {
      queues_.push_back(fake_audio::LastQueue());
      queues_seen_ = fake_audio::QueueCount();
    }
  }

  void Step(const FileOnListing& listing) {
    sequence_->Step(listing, heard_);
    if (heard_.change.kind != SequenceChangeKind::kNone) {
      changes_.push_back(heard_.change);
    }
    NoteNewQueues();
  }

  // Passes until `done` holds; false after a patience that only ends a broken test.
  bool StepUntil(const FileOnListing& listing, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      Step(listing);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }

  bool Ended() const {
    return !changes_.empty() && (changes_.back().kind == SequenceChangeKind::kEnded ||
                                 changes_.back().kind == SequenceChangeKind::kStopped);
  }

  // Plays the buffers of whichever queue plays, a pass after each, until the sequence has
  // ended or stopped. Waits for the loader where the queues have nothing to play.
  void PlayAlbum(const FileOnListing& listing) {
    ASSERT_TRUE(StepUntil(listing, [&] {
      for (FakeQueue& queue : queues_) {
        if (queue.PlayHeadBuffer()) {
          return false;
        }
      }
      return Ended();
    })) << "the album never ended";
  }

  std::unique_ptr<TrackSequence> sequence_ = std::make_unique<TrackSequence>();
  HeardSnapshot heard_;
  std::vector<FakeQueue> queues_;
  int queues_seen_ = 0;
  std::map<std::string, std::vector<int16_t>> pcm_;
  std::vector<SequenceChange> changes_;
  UInt32 seed_ = 0;
};

// Tracks of one shape, one shorter than a buffer and the first shorter than what is primed:
// one stream, every sample once and in order, and the screen moves on as each is heard.
TEST_F(TrackSequenceTest, TracksOfOneShapeJoinOnOneStreamSampleForSample) {
  const std::vector<std::string> album = {Track("a.mp3", kBufferFrames + 11), Track("b.mp3", 900),
                                          Track("c.mp3", 4 * kBufferFrames)};
  Play(album[0]);

  PlayAlbum(AlbumListing(album));

  EXPECT_EQ(queues_[0].played_samples(), PcmOf({"a.mp3", "b.mp3", "c.mp3"}));
  EXPECT_EQ(fake_audio::QueueCount(), 1);
  EXPECT_THAT(changes_, ElementsAre(Field(&SequenceChange::path, album[1]),
                                    Field(&SequenceChange::path, album[2]),
                                    Field(&SequenceChange::kind, SequenceChangeKind::kEnded)));
  EXPECT_TRUE(heard_.loaded) << "the ended track stays in place";
  EXPECT_EQ(heard_.path, album[2]);
  EXPECT_EQ(heard_.position, -1) << "nothing is left to be heard";
  EXPECT_LE(fake_audio::PeakOpenFileCount(), 2);
}

// The next file is read as soon as a track starts, long before its data ends; a file that
// arrives after the data before it has ended still joins right after its last frame.
TEST_F(TrackSequenceTest, TheNextFileIsReadAtOnceAndJoinsWhereverTheDataEnded) {
  const std::string a = Track("a.mp3", 20 * kBufferFrames);
  const std::string b = Track("b.mp3", kBufferFrames);
  Play(a);
  ASSERT_TRUE(StepUntil(AlbumListing({a, b}), [] { return fake_audio::OpenFileCount() == 2; }));
  EXPECT_EQ(queues_[0].enqueue_count(), 3) << "only the primed buffers so far";

  NewSequence();
  const std::string c = Track("c.mp3", kBufferFrames + 5);
  Play(c);
  ASSERT_TRUE(queues_[0].PlayHeadBuffer());
  ASSERT_TRUE(queues_[0].PlayHeadBuffer());
  EXPECT_EQ(queues_[0].queued_count(), 0) << "it waits for what follows";
  PlayAlbum(AlbumListing({c, b}));
  EXPECT_EQ(queues_[0].played_samples(), PcmOf({"c.mp3", "b.mp3"}));
}

// A file that opens but holds no frame is passed over; a folder of nothing else is gone
// through once, not for ever.
TEST_F(TrackSequenceTest, AHollowFileIsPassedOver) {
  const std::vector<std::string> album = {Track("a.mp3", kBufferFrames), Track("hollow.wav", 0),
                                          Track("c.mp3", kBufferFrames)};
  Play(album[0]);
  PlayAlbum(AlbumListing(album));
  EXPECT_EQ(queues_[0].played_samples(), PcmOf({"a.mp3", "c.mp3"}));
  EXPECT_EQ(heard_.path, album[2]);

  const std::vector<std::string> hollow = {Track("h1.wav", 0), Track("h2.wav", 0)};
  NewSequence();
  Play(hollow[0]);
  PlayAlbum(AlbumListing({hollow[0], hollow[1], hollow[0]}));
  EXPECT_EQ(changes_.back().kind, SequenceChangeKind::kEnded);
}

// Another shape needs a stream of its own: made and primed while the ended one is heard,
// started the moment it has been heard out, before the main thread's next pass.
TEST_F(TrackSequenceTest, AnotherShapeGetsAStreamPrimedWhileTheEndedOneIsHeard) {
  const std::string stereo = Track("a.mp3", 4 * kBufferFrames + 3);
  const std::string mono = Track("b.mp3", 3 * kBufferFrames, 1);
  const FileOnListing listing = AlbumListing({stereo, mono});
  Play(stereo);
  FakeQueue first = queues_[0];
  ASSERT_TRUE(StepUntil(listing, [] { return fake_audio::OpenFileCount() == 2; }));
  EXPECT_EQ(fake_audio::QueueCount(), 1) << "not while the data before it lasts";
  while (fake_audio::QueueCount() == 1 && first.PlayHeadBuffer()) {
    Step(listing);
  }
  ASSERT_EQ(fake_audio::QueueCount(), 2);
  EXPECT_TRUE(changes_.empty());
  FakeQueue second = fake_audio::LastQueue();
  EXPECT_EQ(second.state(), QueueState::kIdle);
  EXPECT_EQ(second.queued_count(), 3);
  EXPECT_GT(first.queued_count(), 0) << "made while the ended stream is still heard";

  first.PlayUntilDrained();
  EXPECT_EQ(second.state(), QueueState::kRunning) << "started as the end was heard";
  // Space before the main thread's next pass pauses the one that is heard now.
  EXPECT_TRUE(sequence_->PauseHeard());
  EXPECT_EQ(second.state(), QueueState::kPaused);
  Step(listing);
  EXPECT_THAT(changes_, ElementsAre(Field(&SequenceChange::path, mono)));
  EXPECT_EQ(changes_[0].kind, SequenceChangeKind::kMovedOn);
  EXPECT_EQ(first.state(), QueueState::kDisposed);
  EXPECT_EQ(first.played_samples(), PcmOf({"a.mp3"}));
  EXPECT_TRUE(heard_.paused);
  sequence_->ResumeHeard();
  EXPECT_EQ(second.state(), QueueState::kRunning);
}

// Space as the ended track is heard out, while the next is still being read: it starts held
// where it begins, and shows 00:00 until Space again.
TEST_F(TrackSequenceTest, APauseAfterTheEndHoldsWhatFollowsAtItsStart) {
  const std::string stereo = Track("a.mp3", 1000);
  const std::string mono = Track("b.mp3", kBufferFrames, 1);
  Play(stereo);
  Step(NoListing());
  queues_[0].PlayUntilDrained();
  Step(NoListing());
  ASSERT_THAT(changes_, ElementsAre(Field(&SequenceChange::kind, SequenceChangeKind::kEnded)));
  HeldRead held;
  Step(AlbumListing({stereo, mono}));
  ASSERT_TRUE(held.WaitUntilReached());
  ASSERT_TRUE(sequence_->PauseHeard()) << "the file on its way is what Space holds";
  held.ReleaseAndWaitUntilClosed(1);

  ASSERT_TRUE(StepUntil(AlbumListing({stereo, mono}), [&] { return changes_.size() == 2; }));
  EXPECT_EQ(changes_[1].kind, SequenceChangeKind::kMovedOn);
  FakeQueue second = fake_audio::LastQueue();
  EXPECT_EQ(second.state(), QueueState::kIdle);
  EXPECT_EQ(heard_.position, 0.0);
  EXPECT_TRUE(heard_.paused);
  sequence_->ResumeHeard();
  EXPECT_EQ(second.state(), QueueState::kRunning);
  Step(NoListing());
  EXPECT_FALSE(heard_.paused);
}

// A chosen file is read while what plays plays on, and replaces it once it is there; a later
// choice takes the place of an earlier one still being read.
TEST_F(TrackSequenceTest, AChosenFileReplacesWhatPlaysOnceItHasBeenRead) {
  const std::string a = Track("a.mp3", 20 * kBufferFrames);
  const std::string b = Track("b.mp3", kBufferFrames);
  const std::string c = Track("c.mp3", kBufferFrames);
  Play(a);
  sequence_->Choose(b);
  sequence_->Choose(c);
  EXPECT_EQ(queues_[0].state(), QueueState::kRunning) << "the old track plays on meanwhile";

  ASSERT_TRUE(StepUntil(NoListing(), [&] { return !changes_.empty(); }));
  EXPECT_EQ(changes_[0].kind, SequenceChangeKind::kStarted);
  EXPECT_EQ(changes_[0].path, c);
  EXPECT_EQ(heard_.path, c);
  EXPECT_EQ(queues_[0].state(), QueueState::kDisposed);
  EXPECT_EQ(fake_audio::QueueCount(), 2) << "b was never started";
}

// Failures are told when they take effect: a chosen file's at once, a next file's once the
// track before it has been heard out. Nothing plays afterwards.
TEST_F(TrackSequenceTest, FailedFilesAreToldWhenTheyTakeEffect) {
  const std::string a = Track("a.mp3", 1000);
  const std::string missing = dir_ / "gone.mp3";
  const std::string failure =
      "Failed to open file: No such file or directory\nFailed to load: " + missing + "\n";
  Play(a);
  std::string errors = engine_test::CaptureStderr([&] {
    // The data ended in the priming: the stream ends once the failure is known.
    ASSERT_TRUE(StepUntil(AlbumListing({a, missing}), [&] { return queues_[0].stop_pending(); }));
  });
  EXPECT_EQ(errors, "") << "not before it takes effect";
  errors = engine_test::CaptureStderr([&] { PlayAlbum(AlbumListing({a, missing})); });
  EXPECT_EQ(changes_.back().kind, SequenceChangeKind::kStopped);
  EXPECT_EQ(errors, failure);
  EXPECT_FALSE(heard_.loaded);

  Play(a);
  changes_.clear();
  errors = engine_test::CaptureStderr([&] {
    sequence_->Choose(missing);
    ASSERT_TRUE(StepUntil(NoListing(), [&] { return !changes_.empty(); }));
  });
  EXPECT_EQ(changes_[0].kind, SequenceChangeKind::kStopped);
  EXPECT_EQ(errors, failure);
  EXPECT_FALSE(heard_.loaded);
}

// The listener leaves the folder while the next file is read ahead: that read is cancelled for
// good. Its answer, when it comes, is dropped; the track heard plays to its end, and nothing
// starts after it.
TEST_F(TrackSequenceTest, AReadAheadCancelledByTheListingNeverPlays) {
  const std::string a = Track("a.mp3", 6 * kBufferFrames);
  const std::string b = Track("b.mp3", kBufferFrames);
  Play(a);
  HeldRead held;
  Step(AlbumListing({a, b}));
  ASSERT_TRUE(held.WaitUntilReached());
  Step(NoListing());  // A folder with no file row.
  ASSERT_TRUE(held.ReleaseAndWaitUntilClosed(1)) << "b's answer is dropped, not kept";

  PlayAlbum(NoListing());

  EXPECT_THAT(changes_, ElementsAre(Field(&SequenceChange::kind, SequenceChangeKind::kEnded)));
  EXPECT_EQ(queues_[0].played_samples(), PcmOf({"a.mp3"}));
  EXPECT_EQ(fake_audio::QueueCount(), 1);
  EXPECT_EQ(heard_.path, a);
}

// A read that never returns holds up nothing else: a file chosen meanwhile is read beside it
// and plays; and so does the next one, when its read does not return either.
TEST_F(TrackSequenceTest, AStuckReadDelaysNoChoice) {
  const std::string a = Track("a.mp3", 20 * kBufferFrames);
  const std::string b = Track("b.mp3", kBufferFrames);
  const std::string c = Track("c.mp3", kBufferFrames);
  const std::string d = Track("d.mp3", 2 * kBufferFrames);
  Play(a);
  auto stuck_ahead = std::make_unique<HeldRead>();
  Step(AlbumListing({a, b}));
  ASSERT_TRUE(stuck_ahead->WaitUntilReached());

  HeldRead stuck_choice;
  sequence_->Choose(c);
  ASSERT_TRUE(stuck_choice.WaitUntilReached());
  sequence_->Choose(d);
  ASSERT_TRUE(StepUntil(AlbumListing({a, b}), [&] { return !changes_.empty(); }));

  EXPECT_THAT(changes_, ElementsAre(Field(&SequenceChange::path, d)));
  EXPECT_EQ(changes_[0].kind, SequenceChangeKind::kStarted);
  sequence_->Stop();
  EXPECT_TRUE(stuck_ahead->ReleaseAndWaitUntilClosed());
  EXPECT_TRUE(stuck_choice.ReleaseAndWaitUntilClosed());
  Step(NoListing());
  EXPECT_EQ(changes_.size(), 1u) << "late answers are dropped";
}

// A choice goes before a read ahead: the file read ahead is dropped. A choice beside a deferred
// read (a next file too large to hold beside the track before it) is not lost either, and no
// more than two files are held meanwhile.
TEST_F(TrackSequenceTest, AChoiceDropsTheReadAheadAndBeatsADeferredRead) {
  const std::string a = Track("a.mp3", 5 * kBufferFrames);
  const std::string b = Track("b.mp3", kBufferFrames);
  const std::string c = Track("c.mp3", kBufferFrames);
  Play(a);
  ASSERT_TRUE(StepUntil(AlbumListing({a, b}), [] { return fake_audio::OpenFileCount() == 2; }));
  sequence_->Choose(c);
  ASSERT_TRUE(StepUntil(AlbumListing({c}), [&] { return !changes_.empty(); }));
  EXPECT_EQ(changes_[0].path, c);
  PlayAlbum(AlbumListing({c}));
  EXPECT_EQ(fake_audio::LastQueue().played_samples(), PcmOf({"c.mp3"}));
  EXPECT_EQ(fake_audio::QueueCount(), 2);
  // A read cancelled while under way lets go of its file once its reader sees the cancel.
  EXPECT_TRUE(StepUntil(AlbumListing({c}), [] { return fake_audio::OpenFileCount() == 0; }))
      << "b was kept";

  // Room for a or b alone, not both: b is read once a's data has ended.
  const auto size = [](const std::string& path) {
    return static_cast<std::int64_t>(std::filesystem::file_size(path));
  };
  sequence_.reset();
  fake_audio::Reset();
  NewSequence(size(a) + size(b) - 1);
  Play(a);
  Step(AlbumListing({a, b}));
  HeldRead deferred;
  ASSERT_TRUE(StepUntil(AlbumListing({a, b}), [&] {
    queues_[0].PlayHeadBuffer();
    return deferred.Reached();
  }));
  sequence_->Choose(c);
  ASSERT_TRUE(StepUntil(AlbumListing({a, b}), [&] {
    return !changes_.empty() && changes_.back().kind == SequenceChangeKind::kStarted;
  }));
  EXPECT_EQ(changes_.back().path, c);
  EXPECT_LE(fake_audio::PeakOpenFileCount(), 2);
  sequence_->Stop();
  EXPECT_TRUE(deferred.ReleaseAndWaitUntilClosed());
}

// Quitting while a read does not return: the sequence goes at once, whichever read it is.
TEST_F(TrackSequenceTest, QuittingNeverWaitsForARead) {
  const std::string a = Track("a.mp3", 20 * kBufferFrames);
  const std::string b = Track("b.mp3", kBufferFrames);
  for (const bool chosen : {false, true}) {
    NewSequence();
    Play(a);
    HeldRead held;
    if (chosen) {
      sequence_->Choose(b);
    } else {
      Step(AlbumListing({a, b}));
    }
    ASSERT_TRUE(held.WaitUntilReached());
    std::atomic<bool> gone{false};
    std::thread quit([&] {
      sequence_.reset();
      gone = true;
    });
    // Waits only so that a sequence that does wait for the read ends the test.
    for (int i = 0; i < 20000 && !gone; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(gone) << (chosen ? "a chosen read" : "a read ahead") << " held the quit";
    EXPECT_TRUE(held.Reached()) << "the read was still held when the sequence went";
    held.ReleaseAndWaitUntilClosed();
    quit.join();
  }
}

}  // namespace

// The next file of the same shape read only after the stream ran dry: it gets a stream of its
// own, and the screen follows it, and the track after it, as each is heard.
TEST_F(TrackSequenceTest, AReadThatComesAfterTheStreamRanDryIsHeardAndFollowed) {
  const std::string a = Track("a.mp3", 3 * kBufferFrames + 5);
  const std::string b = Track("b.mp3", 2 * kBufferFrames + 7);
  const std::string c = Track("c.mp3", 2 * kBufferFrames + 9);
  const FileOnListing listing = AlbumListing({a, b, c});
  Play(a);
  auto held = std::make_unique<HeldRead>();
  Step(listing);
  ASSERT_TRUE(held->WaitUntilReached());
  FakeQueue first = queues_[0];
  first.PlayUntilDrained();
  Step(listing);
  held->Release();
  PlayAlbum(AlbumListing({a, b, c}));
  std::vector<std::string> paths;
  for (const SequenceChange& change : changes_) {
    paths.push_back(change.path);
  }
  EXPECT_THAT(paths, testing::ElementsAre(b, c, testing::_));
}
