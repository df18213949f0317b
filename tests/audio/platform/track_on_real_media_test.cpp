#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "audio/track.h"
#include "tests/support/media.h"
#include "tests/support/temp_dir.h"

namespace {

using test_support::MediaFormat;
using test_support::MediaRecipe;

// LoadTrack over the real platform, on files made with ffmpeg.
class TrackOnRealMediaTest : public ::testing::Test {
 protected:
  void TearDown() override { CloseTrack(&track_); }

  // Loads `path`; the result, with what reached standard error meanwhile in `printed`.
  int Load(const std::string& path, std::string* printed) {
    ::testing::internal::CaptureStderr();
    const int result = LoadTrack(&track_, path.c_str());
    *printed = ::testing::internal::GetCapturedStderr();
    return result;
  }

  void ExpectFailedCleanly(const std::string& path, bool prints) {
    std::string printed;
    EXPECT_EQ(Load(path, &printed), -1);
    EXPECT_EQ(track_.data, nullptr);
    EXPECT_EQ(track_.decoder, nullptr);
    EXPECT_EQ(track_.audio_file, nullptr);
    if (!prints) {
      EXPECT_EQ(printed, "");
    }
  }

  AudioTrack track_;
  test_support::TempDir folder_;
};

TEST_F(TrackOnRealMediaTest, EveryFormatLoadsWithTagsDurationAndClientFormat) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format : test_support::kPlayableFormats) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(test_support::FormatName(format) + " " + std::to_string(channels));
      MediaRecipe recipe;
      recipe.format = format;
      recipe.channels = channels;
      recipe.sample_rate = 48000;
      recipe.seconds = 1.25;
      recipe.tags = {"Title", "Artist", "Album", "2004-05-12", "Genre"};
      std::string printed;
      ASSERT_EQ(Load(test_support::MakeMedia(recipe), &printed), 0);
      EXPECT_EQ(printed, "");
      EXPECT_EQ(track_.metadata.title, "Title");
      EXPECT_EQ(track_.metadata.artist, "Artist");
      EXPECT_EQ(track_.metadata.album, "Album");
      EXPECT_EQ(track_.metadata.year, "2004");
      EXPECT_EQ(track_.metadata.genre, "Genre");
      if (format == MediaFormat::kMp3VbrWithoutXing) {
        // Encoder delay and the last frame's padding are not declared in such a file.
        EXPECT_GE(track_.duration, recipe.seconds);
        EXPECT_LE(track_.duration, recipe.seconds + (1105.0 + 1152.0) / recipe.sample_rate);
      } else {
        EXPECT_DOUBLE_EQ(track_.duration, recipe.seconds);
      }
      EXPECT_EQ(track_.client_format.mSampleRate, recipe.sample_rate);
      EXPECT_EQ(track_.client_format.mChannelsPerFrame, static_cast<UInt32>(channels));
      EXPECT_EQ(track_.client_format.mBytesPerFrame, 2u * channels);
      CloseTrack(&track_);
    }
  }
}

// A file of some megabytes takes another kind of block: every byte must still arrive.
TEST_F(TrackOnRealMediaTest, FileOfSomeMegabytesLoadsWhole) {
  SKIP_WITHOUT_FFMPEG();
  const std::string path = test_support::MakeMedia(test_support::Recipe(MediaFormat::kWav, 15));
  std::string printed;
  ASSERT_EQ(Load(path, &printed), 0);
  const std::string bytes = test_support::ReadFile(path);
  ASSERT_GT(bytes.size(), size_t{2} << 20);
  ASSERT_EQ(track_.size, static_cast<SInt64>(bytes.size()));
  EXPECT_EQ(std::memcmp(track_.data, bytes.data(), bytes.size()), 0);
  EXPECT_DOUBLE_EQ(track_.duration, 15.0);
}

TEST_F(TrackOnRealMediaTest, TitlesOver511BytesAreEmpty) {
  SKIP_WITHOUT_FFMPEG();
  MediaRecipe recipe;
  recipe.format = MediaFormat::kMp3Cbr;
  recipe.tags.title = std::string(511, 't');
  std::string printed;
  ASSERT_EQ(Load(test_support::MakeMedia(recipe), &printed), 0);
  EXPECT_EQ(track_.metadata.title, recipe.tags.title);
  CloseTrack(&track_);

  recipe.tags.title = std::string(600, 't');
  recipe.tags.album = "Kept";
  ASSERT_EQ(Load(test_support::MakeMedia(recipe), &printed), 0);
  EXPECT_EQ(track_.metadata.title, "");
  EXPECT_EQ(track_.metadata.album, "Kept");
}

TEST_F(TrackOnRealMediaTest, MissingFileFailsWithTheOpenMessage) {
  std::string printed;
  EXPECT_EQ(Load(folder_ / "absent.mp3", &printed), -1);
  EXPECT_EQ(printed.rfind("Failed to open file: ", 0), 0u) << printed;
  EXPECT_EQ(track_.data, nullptr);
}

TEST_F(TrackOnRealMediaTest, FilesThatAreNoAudioFailQuietly) {
  test_support::WriteFile(folder_ / "empty.mp3", "");
  ExpectFailedCleanly(folder_ / "empty.mp3", false);
  test_support::WriteFile(folder_ / "notes.mp3", "Remember the milk.\nAnd the eggs.\n");
  ExpectFailedCleanly(folder_ / "notes.mp3", false);
}

TEST_F(TrackOnRealMediaTest, FilesCutInsideTheHeaderFailQuietly) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format :
       {MediaFormat::kMp3Vbr, MediaFormat::kWav, MediaFormat::kFlac, MediaFormat::kM4aAac}) {
    SCOPED_TRACE(test_support::FormatName(format));
    MediaRecipe recipe;
    recipe.format = format;
    const std::string whole = test_support::ReadFile(test_support::MakeMedia(recipe));
    const std::string cut = folder_ / ("cut" + test_support::FormatExtension(format));
    test_support::WriteFile(cut, whole.substr(0, 30));
    ExpectFailedCleanly(cut, false);
  }
}

}  // namespace
