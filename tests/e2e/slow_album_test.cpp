// An album on slow storage (tests/support/slow_mirror.h) where reading each file takes about
// half of its length, far longer than the second or so between the moment a track's data is
// all decoded and the moment its end is heard: still heard as one piece, sample for sample.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/album.h"
#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/slow_mirror.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace {

using test_support::MediaFormat;
using test_support::ServerKind;

// About 6 s each at either rate, cut at odd frame counts; each takes about 3 s to read.
const std::vector<int64_t> kTracksAt44k = {264601, 265003, 263789};
const std::vector<int64_t> kTracksAt96k = {576037, 577003, 575011};
constexpr double kShareOfLengthToRead = 0.5;

class SlowAlbumTest : public ::testing::Test {
 protected:
  void MakeAlbum(const std::vector<int64_t>& frames, int sample_rate) {
    SKIP_WITHOUT_TMUX();
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_SLOW_MIRROR();
    std::filesystem::create_directory(dir_.path() / "album");
    album_ = test_support::CutAlbum(MediaFormat::kWav, frames, dir_ / "album", sample_rate);
    ASSERT_EQ(album_.tracks.size(), frames.size());
    const std::string& first = album_.tracks.front();
    const double seconds = static_cast<double>(frames.front()) / sample_rate;
    const test_support::ReadPace pace = test_support::PaceToRead(
        static_cast<int64_t>(std::filesystem::file_size(first)), kShareOfLengthToRead * seconds);
    mirror_ = std::make_unique<test_support::SlowMirror>(dir_.path() / "album", pace);
    ASSERT_TRUE(mirror_->ok()) << "the mirror did not mount:\n" << mirror_->Errors();
  }

  // Plays the album from its first file on the mirror.
  void PlayTheAlbum(const std::map<std::string, std::string>& environment) {
    const std::string first = std::filesystem::path(album_.tracks.front()).filename().string();
    // Each track shows within its length and its read, or far later.
    test_support::PlayTheAlbum(album_, *mirror_ / first, environment, false,
                               std::chrono::seconds(20));
  }

  test_support::TempDir dir_;
  test_support::Album album_;
  std::unique_ptr<test_support::SlowMirror> mirror_;
};

class SlowAlbumOnADesktopTest : public SlowAlbumTest,
                                public ::testing::WithParamInterface<ServerKind> {};

TEST_P(SlowAlbumOnADesktopTest, IsHeardAsOnePiece) {
  SKIP_WITHOUT_SOUND_SERVER(GetParam());
  MakeAlbum(kTracksAt44k, 44100);
  if (IsSkipped() || HasFatalFailure()) {
    return;
  }
  test_support::SoundServer server(GetParam());
  ASSERT_TRUE(server.ok()) << "the private sound server did not start:\n" << server.Logs();
  ASSERT_TRUE(server.StartRecording());
  PlayTheAlbum(server.ClientEnvironment());
  test_support::ExpectTheAlbum(album_, server.StopRecording());
}

// The lead does not depend on the rate: at 96 kHz the same seconds of sound are more bytes, and
// the same share of a track's length goes to its read.
TEST_F(SlowAlbumTest, At96kHzIsWrittenAsOnePiece) {
  MakeAlbum(kTracksAt96k, 96000);
  if (IsSkipped() || HasFatalFailure()) {
    return;
  }
  const std::string written = dir_ / "heard.raw";
  PlayTheAlbum({{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", written}});
  test_support::ExpectTheAlbum(album_, test_support::SamplesOf(test_support::ReadFile(written)));
}

INSTANTIATE_TEST_SUITE_P(Servers, SlowAlbumOnADesktopTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);

}  // namespace
