// The engine on the real platform, FFmpeg and SDL2, with SDL's disk driver: every sample the
// output plays lands in a file, silence included, so what was heard can be compared with the
// track's own PCM. SDL_DISKAUDIODELAY=0 plays faster than real time where timing does not
// matter.

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/player.h"
#include "audio/track.h"
#include "tests/support/media.h"
#include "tests/support/temp_dir.h"

namespace {

using std::chrono::milliseconds;
using test_support::MediaFormat;
using test_support::MediaSpec;

constexpr milliseconds kPatience{20000};

// The samples of every frame in `samples` that is not all zeros: what played, without the
// silence SDL writes before the start, while paused and after the end. The test media are never
// exactly silent.
std::vector<int16_t> WithoutSilentFrames(const std::vector<int16_t>& samples, int channels) {
  std::vector<int16_t> kept;
  kept.reserve(samples.size());
  for (size_t frame = 0; frame + channels <= samples.size(); frame += channels) {
    bool silent = true;
    for (int channel = 0; channel < channels; ++channel) {
      silent = silent && samples[frame + channel] == 0;
    }
    if (!silent) {
      kept.insert(kept.end(), samples.begin() + frame, samples.begin() + frame + channels);
    }
  }
  return kept;
}

std::vector<int16_t> SamplesOf(const std::string& bytes) {
  std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
  return samples;
}

class PlayerPlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    // The driver is chosen once per process, when SDL's audio starts; the file and the pace
    // are read each time a device opens.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", output_path_.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
  }

  void TearDown() override {
    FreePlayer(player_);
    CloseTrack(&track_);
  }

  // Loads the media of `spec` and starts a Player over it.
  void Start(const MediaSpec& spec) { Start(test_support::MakeMedia(spec)); }

  void Start(const std::string& media_path) {
    media_path_ = media_path;
    ASSERT_FALSE(media_path_.empty());
    ASSERT_EQ(LoadTrack(&track_, media_path_.c_str()), 0);
    player_ = CreatePlayer(&track_);
    ASSERT_NE(player_, nullptr);
    ASSERT_TRUE(StartPlayer(player_));
  }

  // Waits for the end of the data and for the queue to play out what it held. Gives up when the
  // output file grows far past the track (SDL goes on writing silence as fast as it can).
  void WaitForTheEnd() {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    const auto size_limit = static_cast<std::uintmax_t>(track_.size) * 20 + (64 << 20);
    AudioTimeStamp now{};
    while (!player_->finished.load() ||
           AudioQueueGetCurrentTime(player_->queue, nullptr, &now, nullptr) == noErr) {
      std::error_code error;
      ASSERT_LT(std::filesystem::file_size(output_path_, error), size_limit)
          << "the output ran on far past the track";
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the track never ended";
      std::this_thread::sleep_for(milliseconds(1));
    }
  }

  // What the output played, once the Player is gone (closing the device closes the file).
  std::vector<int16_t> PlayedSamples() {
    FreePlayer(player_);
    player_ = nullptr;
    return WithoutSilentFrames(SamplesOf(test_support::ReadFile(output_path_)),
                               static_cast<int>(track_.client_format.mChannelsPerFrame));
  }

  // Plays `spec` to its end and expects every sample of it, once, in order.
  void ExpectPlaysWhole(const MediaSpec& spec) {
    Start(spec);
    WaitForTheEnd();
    std::vector<int16_t> reference = test_support::ReferencePcm(media_path_);
    ASSERT_FALSE(reference.empty());
    std::vector<int16_t> played = PlayedSamples();
    ASSERT_EQ(played.size(), reference.size());
    EXPECT_TRUE(played == reference) << "the played samples differ from the track's";
  }

  test_support::TempDir dir_;
  std::string output_path_ = dir_ / "played.raw";
  std::string media_path_;
  AudioTrack track_;
  Player* player_ = nullptr;
};

TEST_F(PlayerPlaybackTest, WavPlaysEverySampleOnce) {
  ExpectPlaysWhole(test_support::Spec(MediaFormat::kWav, 4.0, 2, 44100));
}

TEST_F(PlayerPlaybackTest, FlacPlaysEverySampleOnce) {
  ExpectPlaysWhole(test_support::Spec(MediaFormat::kFlac, 3.5, 1, 48000));
}

TEST_F(PlayerPlaybackTest, TrackShorterThanThePrimedBuffersPlaysWhole) {
  ExpectPlaysWhole(test_support::Spec(MediaFormat::kWav, 1.2, 2, 44100));
}

TEST_F(PlayerPlaybackTest, TrackShorterThanOneBufferPlaysWhole) {
  ExpectPlaysWhole(test_support::Spec(MediaFormat::kFlac, 0.3, 2, 44100));
}

// A mono MP3 and a stereo one joined by `cat`: the stereo part is heard too, mixed down to the
// mono that the track opened in, and the length shown is all that plays.
TEST_F(PlayerPlaybackTest, FileJoinedFromMonoAndStereoPlaysWhole) {
  Start(test_support::JoinMedia({test_support::Spec(MediaFormat::kMp3Vbr, 1.0, 1, 44100),
                                 test_support::Spec(MediaFormat::kMp3Vbr, 1.5, 2, 44100)}));
  ASSERT_EQ(track_.client_format.mChannelsPerFrame, 1u);
  WaitForTheEnd();
  // ffmpeg's own decoding of the whole file, converted throughout to the opening format.
  std::vector<int16_t> reference = test_support::ReferencePcm(media_path_, 1, 44100);
  EXPECT_GE(reference.size(), 2.5 * 44100);
  EXPECT_EQ(reference.size(), std::llround(track_.duration * 44100));
  // Unlike the made tones, the join holds exactly silent frames: each part's encoder padding,
  // which FFmpeg trims only from a file that is not joined. They cannot be told from SDL's
  // silence, so they are left out on both sides.
  reference = WithoutSilentFrames(reference, 1);
  std::vector<int16_t> played = PlayedSamples();
  ASSERT_EQ(played.size(), reference.size());
  EXPECT_TRUE(played == reference) << "the played samples differ from the file's";
}

TEST_F(PlayerPlaybackTest, PauseAndResumeHundredsOfTimesLosesNothing) {
  // At full speed a buffer may come back right after a resume, before ResumePlayer has cleared
  // `paused`; it must go on circulating. (The fake's tests hit that moment on purpose.)
  Start(test_support::Spec(MediaFormat::kWav, 30.0, 1, 22050));
  for (int cycle = 0; cycle < 300; ++cycle) {
    ASSERT_TRUE(player_->running.load()) << "ended after " << cycle << " cycles";
    PausePlayer(player_);
    ASSERT_TRUE(player_->paused.load());
    ResumePlayer(player_);
    ASSERT_FALSE(player_->paused.load());
  }
  WaitForTheEnd();
  std::vector<int16_t> reference = test_support::ReferencePcm(media_path_);
  std::vector<int16_t> played = PlayedSamples();
  ASSERT_EQ(played.size(), reference.size());
  EXPECT_TRUE(played == reference) << "the played samples differ from the track's";
}

TEST_F(PlayerPlaybackTest, PositionFollowsWhatHasPlayed) {
  unsetenv("SDL_DISKAUDIODELAY");  // Real time: the disk driver waits out each period.
  Start(test_support::Spec(MediaFormat::kWav, 3.0, 2, 44100));
  for (int check = 0; check < 4; ++check) {
    std::this_thread::sleep_for(milliseconds(250));
    double position = PlayerCurrentTime(player_);
    auto written = WithoutSilentFrames(SamplesOf(test_support::ReadFile(output_path_)), 2);
    double written_seconds = static_cast<double>(written.size()) / 2 / 44100;
    EXPECT_GT(position, 0.0);
    EXPECT_NEAR(position, written_seconds, 0.1) << "at check " << check;
  }
}

}  // namespace
