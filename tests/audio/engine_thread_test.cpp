// The engine with fake queues that play on threads of their own, so that the refill routine
// really runs beside the main thread (and ThreadSanitizer sees every crossing).

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/playback_state.h"
#include "tests/audio/fake_engine_test.h"
#include "tests/audio/one_track_player.h"
#include "tests/audio/sequence_driver.h"

namespace {

using fake_audio::FakeFileContents;
using fake_audio::FakeQueue;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr UInt64 kBufferFrames = 32768;
constexpr microseconds kBufferPeriod{100};
// The waits catch a hang, not a slow pace: under ThreadSanitizer, beside other tests on two busy
// cores, the 200 buffers of a track took more than 20 s to play.
constexpr milliseconds kPatience{120000};

class EngineThreadTest : public engine_test::FakeEngineTest {
 protected:
  void SetUp() override {
    FakeEngineTest::SetUp();
    fake_audio::EnableThreadedPlayback(kBufferPeriod);
  }

  // Waits until the refill routine has marked `player` finished; false on time-out.
  static bool WaitUntilFinished(const Player* player) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!player->finished.load()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(microseconds(200));
    }
    return true;
  }
};

using PlayerThreadTest = EngineThreadTest;
using LoadAndPlayThreadTest = EngineThreadTest;

TEST_F(PlayerThreadTest, PlaysToTheEndOnTheQueueThread) {
  const UInt64 frames = 20 * kBufferFrames + 99;
  FakeFileContents contents = engine_test::ContentsWithFrames(frames);
  AudioTrack track;
  ASSERT_EQ(LoadTrack(&track, WriteTrack("a.mp3", contents).c_str()), 0);
  Player* player = engine_test::CreateOneTrackPlayer(&track);
  ASSERT_TRUE(StartPlayer(player));
  FakeQueue queue = fake_audio::LastQueue();

  EXPECT_TRUE(WaitUntilFinished(player));
  EXPECT_TRUE(queue.WaitUntilStopped(kPatience));
  EXPECT_FALSE(player->running.load());
  EXPECT_EQ(queue.played_samples(), fake_audio::FakePcm(contents, 0, frames));

  FreePlayer(player);
  CloseTrack(&track);
}

TEST_F(PlayerThreadTest, PauseResumeCyclesLoseNothing) {
  const UInt64 frames = 200 * kBufferFrames + 3;
  FakeFileContents contents = engine_test::ContentsWithFrames(frames);
  AudioTrack track;
  ASSERT_EQ(LoadTrack(&track, WriteTrack("a.mp3", contents).c_str()), 0);
  Player* player = engine_test::CreateOneTrackPlayer(&track);
  ASSERT_TRUE(StartPlayer(player));
  FakeQueue queue = fake_audio::LastQueue();

  // The position never goes back, and is gone only once all has been heard.
  double last_position = 0;
  for (int cycle = 0; cycle < 300 && player->running.load(); ++cycle) {
    PausePlayer(player);
    // As Space does: a pause that met the end of the queue (it had stopped) is not resumed.
    if (player->paused.load()) {
      ResumePlayer(player);
    }
    const double position = PlayerCurrentTime(player);
    if (position == -1) {
      EXPECT_TRUE(PlayerPlayedOut(player)) << "cycle " << cycle;
    } else {
      EXPECT_GE(position, last_position) << "cycle " << cycle;
      last_position = position;
    }
  }

  EXPECT_TRUE(WaitUntilFinished(player));
  EXPECT_TRUE(queue.WaitUntilStopped(kPatience));
  EXPECT_EQ(queue.played_samples(), fake_audio::FakePcm(contents, 0, frames));

  FreePlayer(player);
  CloseTrack(&track);
}

TEST_F(LoadAndPlayThreadTest, ThreeHundredSwitchesWhilePlaying) {
  const std::vector<FakeFileContents> contents = {
      engine_test::ContentsWithFrames(1000, 2, 1),
      engine_test::ContentsWithFrames(3 * kBufferFrames + 7, 1, 2),
      engine_test::ContentsWithFrames(50 * kBufferFrames, 2, 3),
  };
  const std::vector<std::string> paths = {WriteTrack("tiny.mp3", contents[0]),
                                          WriteTrack("short.wav", contents[1]),
                                          WriteTrack("long.flac", contents[2])};
  PlaybackState state;
  for (int i = 0; i < 300; ++i) {
    const size_t which = i % paths.size();
    ASSERT_TRUE(LoadAndPlay(state, paths[which]));
    std::this_thread::sleep_for(microseconds(100 + (i % 4) * 150));
    state.sequence.Snapshot(state.heard);
    EXPECT_EQ(state.heard.path, paths[which]);
    EXPECT_LE(state.heard.position, state.heard.duration) << "switch " << i;
    if (i % 3 == 0 && state.sequence.PauseHeard()) {
      // The fake's clock stands still while paused, as a server's does.
      state.sequence.Snapshot(state.heard);
      const double paused_at = state.heard.position;
      std::this_thread::sleep_for(microseconds(300));
      state.sequence.Snapshot(state.heard);
      EXPECT_TRUE(state.heard.paused);
      EXPECT_EQ(state.heard.position, paused_at) << "switch " << i;
      state.sequence.ResumeHeard();
    }
  }
  StopPlayback(state);
  EXPECT_EQ(fake_audio::QueueCount(), 300);
}

// The refill thread goes on into each track the moment the data before it ends, and a track of
// another shape starts from it as the ended stream is heard out, while the main thread names
// and steps; then chosen files replace what plays, meeting reads, joins and hand-overs, and
// the last one chosen is what plays, from its start.
TEST_F(LoadAndPlayThreadTest, AnAlbumPlaysThroughAndChoicesMeetJoinsAndReads) {
  std::vector<std::string> album;
  std::vector<FakeFileContents> contents;
  std::vector<int16_t> joined;
  for (UInt32 i = 0; i < 5; ++i) {
    const UInt64 frames = (i % 3) * kBufferFrames + 1000 * (i + 1);
    contents.push_back(engine_test::ContentsWithFrames(frames, 2, i + 1));
    album.push_back(WriteTrack("t" + std::to_string(i) + ".mp3", contents.back()));
    const std::vector<int16_t> pcm = fake_audio::FakePcm(contents.back(), 0, frames);
    joined.insert(joined.end(), pcm.begin(), pcm.end());
  }
  contents.push_back(engine_test::ContentsWithFrames(kBufferFrames, 1, 9));
  album.push_back(WriteTrack("t5.mp3", contents.back()));
  const FileOnListing listing = engine_test::AlbumListing(album);
  PlaybackState state;
  ASSERT_TRUE(LoadAndPlay(state, album[0]));
  FakeQueue first = fake_audio::LastQueue();
  bool ended = false;
  ASSERT_TRUE(engine_test::StepUntil(state, listing, [&] {
    ended = ended || state.heard.change.kind == SequenceChangeKind::kEnded;
    return ended;
  }));
  ASSERT_EQ(fake_audio::QueueCount(), 2);
  EXPECT_EQ(first.played_samples(), joined);
  EXPECT_EQ(fake_audio::LastQueue().played_samples(),
            fake_audio::FakePcm(contents[5], 0, kBufferFrames));
  EXPECT_EQ(state.heard.path, album[5]);

  for (int i = 0; i < 99; ++i) {
    state.sequence.Choose(album[i % album.size()]);
    for (int pass = 0; pass < i % 4; ++pass) {
      StepPlayback(state, listing);
      std::this_thread::sleep_for(microseconds(100 + (i % 5) * 200));
    }
    if (i % 3 == 0 && state.sequence.PauseHeard()) {
      state.sequence.ResumeHeard();
    }
  }
  // The last choice, then passes on which nothing follows it: it plays alone, whole.
  const size_t last = 99 % album.size();
  state.sequence.Choose(album[last]);
  // What played meanwhile may end first: while a choice is read, nothing follows it.
  std::vector<SequenceChange> changes;
  ASSERT_TRUE(engine_test::StepUntil(
      state, engine_test::NoListing(),
      [&] { return !changes.empty() && changes.back().kind == SequenceChangeKind::kStarted; },
      &changes));
  EXPECT_EQ(changes.back().path, album[last]);
  FakeQueue chosen = fake_audio::LastQueue();
  ASSERT_TRUE(engine_test::StepUntil(state, engine_test::NoListing(), [&] {
    return chosen.state() == fake_audio::QueueState::kStopped;
  }));
  EXPECT_EQ(chosen.played_samples(),
            fake_audio::FakePcm(contents[last], 0, contents[last].total_frames));
  StopPlayback(state);
}

}  // namespace
