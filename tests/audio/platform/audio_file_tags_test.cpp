#include <string>

#include <gtest/gtest.h>

#include "audio/platform/ffmpeg_tags.h"
#include "tests/audio/platform/memory_audio_file.h"
#include "tests/support/media.h"
#include "tests/support/temp_dir.h"

namespace {

using platform_test::InfoTexts;
using platform_test::MemoryAudioFile;
using test_support::MediaFormat;
using test_support::MediaRecipe;

InfoTexts InfoOf(const MediaRecipe& recipe) {
  const std::string path = test_support::MakeMedia(recipe);
  MemoryAudioFile file(test_support::ReadFile(path));
  if (file.Open() != noErr) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  return file.Info();
}

TEST(AudioFileTagsTest, YearIsTheYearOfADate) {
  using ffmpeg_platform::YearFromDate;
  EXPECT_EQ(YearFromDate("2004-05-12"), "2004");
  EXPECT_EQ(YearFromDate("2004-05-12T10:00:00Z"), "2004");
  EXPECT_EQ(YearFromDate("1999"), "1999");
  // Not a year at its start: kept whole rather than guessed at.
  EXPECT_EQ(YearFromDate("12.05.2004"), "12.05.2004");
  EXPECT_EQ(YearFromDate("20041"), "20041");
  EXPECT_EQ(YearFromDate("99"), "99");
}

TEST(AudioFileTagsTest, Id3v1OnlyMp3GivesItsTags) {
  SKIP_WITHOUT_FFMPEG();
  MediaRecipe recipe;
  recipe.format = MediaFormat::kMp3Cbr;
  recipe.id3v1_only = true;
  recipe.tags = {"Old Tag Title", "Old Tag Artist", "Old Tag Album", "1987", "Jazz"};
  const InfoTexts info = InfoOf(recipe);
  EXPECT_EQ(info.values.at("title"), "Old Tag Title");
  EXPECT_EQ(info.values.at("artist"), "Old Tag Artist");
  EXPECT_EQ(info.values.at("album"), "Old Tag Album");
  EXPECT_EQ(info.values.at("year"), "1987");
  EXPECT_EQ(info.values.at("genre"), "Jazz");
}

TEST(AudioFileTagsTest, FileWithoutTagsHasNoKeys) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format :
       {MediaFormat::kMp3Vbr, MediaFormat::kWav, MediaFormat::kFlac, MediaFormat::kM4aAac}) {
    SCOPED_TRACE(test_support::FormatName(format));
    MediaRecipe recipe;
    recipe.format = format;
    const InfoTexts info = InfoOf(recipe);
    for (const char* key : {"title", "artist", "album", "year", "genre"}) {
      EXPECT_EQ(info.values.count(key), 0u) << key;
    }
  }
}

// CFStringGetCString takes a value whole into 512 bytes, NUL included, or not at all.
TEST(AudioFileTagsTest, LongTitlesConvertWholeOrNotAtAll) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format :
       {MediaFormat::kMp3Cbr, MediaFormat::kWav, MediaFormat::kFlac, MediaFormat::kM4aAlac}) {
    SCOPED_TRACE(test_support::FormatName(format));
    MediaRecipe fits;
    fits.format = format;
    fits.tags.title = std::string(511, 'a');
    const InfoTexts fitting = InfoOf(fits);
    EXPECT_TRUE(fitting.fits.at("title"));
    EXPECT_EQ(fitting.values.at("title"), fits.tags.title);

    MediaRecipe too_long = fits;
    too_long.tags.title = std::string(600, 'b');
    too_long.tags.artist = "Short";
    const InfoTexts refused = InfoOf(too_long);
    EXPECT_FALSE(refused.fits.at("title"));
    EXPECT_EQ(refused.values.at("artist"), "Short");
  }
}

TEST(AudioFileTagsTest, MultiByteTextsStayUtf8) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format : {MediaFormat::kMp3Vbr, MediaFormat::kFlac, MediaFormat::kM4aAac}) {
    SCOPED_TRACE(test_support::FormatName(format));
    MediaRecipe recipe;
    recipe.format = format;
    recipe.tags.title = "Ωμέγα – 夜の歌 ♪";
    EXPECT_EQ(InfoOf(recipe).values.at("title"), recipe.tags.title);
  }
}

}  // namespace
