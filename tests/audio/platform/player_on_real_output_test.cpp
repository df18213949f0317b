#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "audio/player.h"
#include "audio/track.h"
#include "tests/audio/one_track_player.h"
#include "tests/audio/platform/queue_feeder.h"
#include "tests/support/media.h"
#include "tests/support/temp_dir.h"

namespace {

using platform_test::WaitUntil;
using test_support::MediaFormat;
using test_support::MediaRecipe;

// The engine's Player over the real decoder and output queue, on SDL's disk driver.
class PlayerOnRealOutputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("SDL_AUDIODRIVER", "disk", 1); }

  void SetUp() override {
    setenv("SDL_DISKAUDIOFILE", output_path_.c_str(), 1);
    // 1 ms per device buffer of about 23 ms: fast, yet the driver's thread, which writes silence
    // without pause while the device is paused, leaves the device lock to others.
    setenv("SDL_DISKAUDIODELAY", "1", 1);
  }

  void TearDown() override {
    FreePlayer(player_);
    CloseTrack(&track_);
  }

  // Loads and starts the file of `recipe`; its path.
  std::string Play(const MediaRecipe& recipe) {
    const std::string path = test_support::MakeMedia(recipe);
    EXPECT_EQ(LoadTrack(&track_, path.c_str()), 0);
    player_ = engine_test::CreateOneTrackPlayer(&track_);
    EXPECT_NE(player_, nullptr);
    if (player_ != nullptr) {
      EXPECT_TRUE(StartPlayer(player_));
    }
    return path;
  }

  // The queue stops by itself once the last buffer has played.
  bool PlayedOut() {
    AudioTimeStamp now{};
    return AudioQueueGetCurrentTime(player_->queue, nullptr, &now, nullptr) != noErr;
  }

  std::vector<int16_t> FreeAndReadOutput() {
    FreePlayer(player_);
    player_ = nullptr;
    return platform_test::DiskOutputWithoutSilence(
        output_path_, static_cast<int>(track_.client_format.mChannelsPerFrame));
  }

  test_support::TempDir folder_;
  const std::string output_path_ = folder_ / "played.raw";
  AudioTrack track_;
  Player* player_ = nullptr;
};

TEST_F(PlayerOnRealOutputTest, PlaysAWholeFileExactly) {
  SKIP_WITHOUT_FFMPEG();
  // Shorter than the three primed buffers, and longer, so that refills run on SDL's thread.
  for (double seconds : {1.0, 3.5}) {
    for (MediaFormat format : {MediaFormat::kWav, MediaFormat::kFlac}) {
      SCOPED_TRACE(test_support::FormatName(format) + " " + std::to_string(seconds));
      MediaRecipe recipe;
      recipe.format = format;
      recipe.seconds = seconds;
      recipe.channels = seconds < 2 ? 1 : 2;
      const std::string path = Play(recipe);
      ASSERT_NE(player_, nullptr);
      ASSERT_TRUE(WaitUntil([&] { return player_->finished.load() && PlayedOut(); }));
      EXPECT_TRUE(FreeAndReadOutput() == test_support::ReferencePcm(path));
      CloseTrack(&track_);
    }
  }
}

TEST_F(PlayerOnRealOutputTest, PositionHoldsAcrossAPause) {
  SKIP_WITHOUT_FFMPEG();
  unsetenv("SDL_DISKAUDIODELAY");  // Real time: the disk driver waits out each period.
  MediaRecipe recipe;
  recipe.format = MediaFormat::kMp3Vbr;
  recipe.seconds = 3;
  Play(recipe);
  ASSERT_NE(player_, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return PlayerCurrentTime(player_) > 0.2; }));
  PausePlayer(player_);
  ASSERT_TRUE(player_->paused.load());
  const Float64 at_pause = player_->paused_at;
  constexpr double kPauseSeconds = 1.0;
  std::this_thread::sleep_for(std::chrono::duration<double>(kPauseSeconds));
  ResumePlayer(player_);
  const Float64 after_resume = PlayerCurrentTime(player_);
  EXPECT_GE(after_resume, at_pause);
  // A clock that counted the pause would stand a whole pause on; half of it leaves the test
  // thread half a second between the resume and the reading, which no busy machine takes.
  EXPECT_LT(after_resume, at_pause + kPauseSeconds / 2);
  ASSERT_TRUE(WaitUntil([&] { return player_->finished.load(); }));
  // What the queue still holds is heard with the clock running; then there is no position.
  ASSERT_TRUE(WaitUntil([&] { return PlayerPlayedOut(player_); }));
  EXPECT_EQ(PlayerCurrentTime(player_), -1);
}

}  // namespace
