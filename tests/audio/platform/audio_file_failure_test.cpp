#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/audio/platform/memory_audio_file.h"
#include "tests/support/media.h"
#include "tests/support/temp_dir.h"

namespace {

using platform_test::MemoryAudioFile;
using test_support::MediaFormat;
using test_support::MediaRecipe;

std::string MediaBytes(MediaFormat format) {
  MediaRecipe recipe;
  recipe.format = format;
  const std::string path = test_support::MakeMedia(recipe);
  return path.empty() ? std::string() : test_support::ReadFile(path);
}

// Opens `bytes`; the status, and whatever reached standard error meanwhile.
OSStatus OpenQuietly(std::string bytes, std::string* printed) {
  MemoryAudioFile file(std::move(bytes));
  ::testing::internal::CaptureStderr();
  const OSStatus status = file.Open();
  *printed = ::testing::internal::GetCapturedStderr();
  return status;
}

void ExpectCleanFailure(std::string bytes) {
  std::string printed;
  EXPECT_NE(OpenQuietly(std::move(bytes), &printed), noErr);
  EXPECT_EQ(printed, "");
}

TEST(AudioFileFailureTest, EmptyDataFails) { ExpectCleanFailure(""); }

TEST(AudioFileFailureTest, TextRenamedMp3Fails) {
  std::string text;
  for (int line = 0; line < 200; ++line) {
    text += "This is a shopping list, not a song. Line " + std::to_string(line) + "\n";
  }
  ExpectCleanFailure(text);
}

TEST(AudioFileFailureTest, GarbageFails) {
  std::mt19937 random(1234);
  for (size_t size : {1u, 7u, 4096u, 300000u}) {
    std::string garbage(size, '\0');
    for (char& byte : garbage) {
      byte = static_cast<char>(random());
    }
    SCOPED_TRACE(size);
    ExpectCleanFailure(garbage);
  }
}

TEST(AudioFileFailureTest, LargeGarbageFailsWithoutBeingReadWhole) {
  std::mt19937 random(99);
  std::string garbage(8u << 20, '\0');
  for (char& byte : garbage) {
    byte = static_cast<char>(random());
  }
  MemoryAudioFile file(std::move(garbage));
  EXPECT_NE(file.Open(), noErr);
  EXPECT_LE(file.read_end(), (1u << 20) + (128u << 10));
}

// An ID3v2.3 tag of `padding` zero bytes: the size of a tag that carries a large picture.
std::string PaddedId3Tag(unsigned padding) {
  std::string tag = "ID3";
  tag += '\x03';
  tag += '\x00';
  tag += '\x00';
  for (int shift : {21, 14, 7, 0}) {
    tag += static_cast<char>((padding >> shift) & 0x7F);
  }
  return tag + std::string(padding, '\0');
}

TEST(AudioFileFailureTest, AnMp3BehindAFiveMegabyteTagStillOpens) {
  SKIP_WITHOUT_FFMPEG();
  const std::string mp3 = MediaBytes(MediaFormat::kMp3Cbr);
  ASSERT_FALSE(mp3.empty());
  MemoryAudioFile plain(mp3);
  ASSERT_EQ(plain.Open(), noErr);
  MemoryAudioFile tagged(PaddedId3Tag(5u << 20) + mp3);
  ASSERT_EQ(tagged.Open(), noErr);
  EXPECT_EQ(tagged.PacketCount(), plain.PacketCount());
}

TEST(AudioFileFailureTest, FilesCutInsideTheHeaderFail) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format : test_support::kPlayableFormats) {
    SCOPED_TRACE(test_support::FormatName(format));
    const std::string bytes = MediaBytes(format);
    ASSERT_FALSE(bytes.empty());
    for (size_t cut : {4u, 12u, 30u}) {
      SCOPED_TRACE(cut);
      ExpectCleanFailure(bytes.substr(0, cut));
    }
  }
}

TEST(AudioFileFailureTest, FormatsThatAreNoneOfTheFourFail) {
  SKIP_WITHOUT_FFMPEG();
  ExpectCleanFailure(MediaBytes(MediaFormat::kAiff));
}

TEST(AudioFileFailureTest, WrongPropertyRequestsFail) {
  SKIP_WITHOUT_FFMPEG();
  MemoryAudioFile file(MediaBytes(MediaFormat::kWav));
  ASSERT_EQ(file.Open(), noErr);
  UInt64 count = 0;
  UInt32 small = 4;
  EXPECT_NE(
      AudioFileGetProperty(file.file(), kAudioFilePropertyAudioDataPacketCount, &small, &count),
      noErr);
  UInt32 size = sizeof count;
  EXPECT_NE(AudioFileGetProperty(file.file(), FourCharCode("none"), &size, &count), noErr);
}

// A file cut in the middle of its audio is no header failure: it plays what it has. Where the
// length is counted (MP3) it says so; a FLAC header still states the uncut length.
TEST(AudioFileFailureTest, FilesCutInsideTheAudioDeliverTheirCount) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format : test_support::kPlayableFormats) {
    if (format == MediaFormat::kM4aAac || format == MediaFormat::kM4aAlac) {
      continue;  // The index of an M4A made by ffmpeg is at its end.
    }
    SCOPED_TRACE(test_support::FormatName(format));
    const std::string bytes = MediaBytes(format);
    MemoryAudioFile file(bytes.substr(0, bytes.size() / 2));
    ASSERT_EQ(file.Open(), noErr);
    const UInt64 count = file.PacketCount();
    ASSERT_EQ(file.UseClientPcm(), noErr);
    const size_t frames = file.ReadAll(4096).size() / file.channels();
    EXPECT_GT(frames, 0u);
    if (format == MediaFormat::kFlac) {
      EXPECT_LT(frames, count);
    } else {
      EXPECT_EQ(frames, count);
    }
  }
}

}  // namespace
