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
#include "tests/audio/sequence_driver.h"

namespace {

using fake_audio::FakeFileContents;
using fake_audio::FakeQueue;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr UInt64 kBufferFrames = 32768;
constexpr microseconds kBufferPeriod{100};
constexpr milliseconds kPatience{20000};

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
  Player* player = CreatePlayer(&track);
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
  Player* player = CreatePlayer(&track);
  ASSERT_TRUE(StartPlayer(player));
  FakeQueue queue = fake_audio::LastQueue();

  for (int cycle = 0; cycle < 300 && player->running.load(); ++cycle) {
    PausePlayer(player);
    // As Space does: a pause that met the end of the queue (it had stopped) is not resumed.
    if (player->paused.load()) {
      ResumePlayer(player);
    }
    EXPECT_GE(PlayerCurrentTime(player), -1.0);
  }

  EXPECT_TRUE(WaitUntilFinished(player));
  EXPECT_TRUE(queue.WaitUntilStopped(kPatience));
  EXPECT_EQ(queue.played_samples(), fake_audio::FakePcm(contents, 0, frames));

  FreePlayer(player);
  CloseTrack(&track);
}

TEST_F(LoadAndPlayThreadTest, ThreeHundredSwitchesWhilePlaying) {
  const std::vector<std::string> paths = {
      WriteTrack("tiny.mp3", engine_test::ContentsWithFrames(1000, 2, 1)),
      WriteTrack("short.wav", engine_test::ContentsWithFrames(3 * kBufferFrames + 7, 1, 2)),
      WriteTrack("long.flac", engine_test::ContentsWithFrames(50 * kBufferFrames, 2, 3)),
  };
  PlaybackState state;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(LoadAndPlay(state, paths[i % paths.size()]));
    std::this_thread::sleep_for(microseconds(100 + (i % 4) * 150));
    double position = PlayerCurrentTime(state.player);
    EXPECT_TRUE(position == -1.0 || position >= 0.0) << position;
    if (i % 3 == 0 && state.player->running.load()) {
      PausePlayer(state.player);
      PlayerCurrentTime(state.player);
      ResumePlayer(state.player);
    }
  }
  StopPlayback(state);
  EXPECT_EQ(fake_audio::QueueCount(), 300);
}

// The refill thread goes on into each track the moment the data before it ends, and a track of
// another shape starts from it as the ended stream is heard out, while the main thread names
// and steps; then chosen files replace what plays, meeting reads, joins and hand-overs.
TEST_F(LoadAndPlayThreadTest, AnAlbumPlaysThroughAndChoicesMeetJoinsAndReads) {
  std::vector<std::string> album;
  std::vector<int16_t> joined;
  for (UInt32 i = 0; i < 5; ++i) {
    const UInt64 frames = (i % 3) * kBufferFrames + 1000 * (i + 1);
    const FakeFileContents contents = engine_test::ContentsWithFrames(frames, 2, i + 1);
    album.push_back(WriteTrack("t" + std::to_string(i) + ".mp3", contents));
    const std::vector<int16_t> pcm = fake_audio::FakePcm(contents, 0, frames);
    joined.insert(joined.end(), pcm.begin(), pcm.end());
  }
  const FakeFileContents mono = engine_test::ContentsWithFrames(kBufferFrames, 1, 9);
  album.push_back(WriteTrack("t5.mp3", mono));
  PlaybackState state;
  ASSERT_TRUE(LoadAndPlay(state, album[0]));
  FakeQueue first(state.player->queue);
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while ((state.now_playing != album.back() || !PlayerPlayedOut(state.player)) &&
         std::chrono::steady_clock::now() < deadline) {
    engine_test::NameNextInAlbumAndStep(state, album);
    std::this_thread::sleep_for(microseconds(50));
  }
  ASSERT_EQ(fake_audio::QueueCount(), 2);
  ASSERT_TRUE(PlayerPlayedOut(state.player));
  EXPECT_EQ(first.played_samples(), joined);
  EXPECT_EQ(fake_audio::LastQueue().played_samples(), fake_audio::FakePcm(mono, 0, kBufferFrames));
  EXPECT_EQ(state.now_playing, album[5]);

  for (int i = 0; i < 100; ++i) {
    ChooseTrack(state, album[i % album.size()]);
    for (int pass = 0; pass < i % 4; ++pass) {
      engine_test::NameNextInAlbumAndStep(state, album);
      std::this_thread::sleep_for(microseconds(100 + (i % 5) * 200));
    }
    if (i % 3 == 0) {
      PauseHeard(state);
      ResumeHeard(state);
    }
  }
  StopPlayback(state);
}

}  // namespace
