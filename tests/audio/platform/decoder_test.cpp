#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/audio/platform/memory_audio_file.h"
#include "tests/support/media.h"
#include "tests/support/temp_dir.h"

namespace {

using platform_test::MemoryAudioFile;
using test_support::MediaFormat;
using test_support::MediaRecipe;

std::string MakeBytes(const MediaRecipe& recipe, std::string* path = nullptr) {
  const std::string made = test_support::MakeMedia(recipe);
  if (path != nullptr) {
    *path = made;
  }
  return made.empty() ? std::string() : test_support::ReadFile(made);
}

TEST(ExtAudioFileTest, LosslessFilesDecodeBitExactAtOtherRates) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format : {MediaFormat::kWav, MediaFormat::kFlac, MediaFormat::kM4aAlac}) {
    for (int rate : {22050, 48000, 96000}) {
      SCOPED_TRACE(test_support::FormatName(format) + " " + std::to_string(rate));
      MediaRecipe recipe;
      recipe.format = format;
      recipe.sample_rate = rate;
      recipe.channels = rate == 48000 ? 1 : 2;
      recipe.seconds = 0.5;
      std::string path;
      MemoryAudioFile file(MakeBytes(recipe, &path));
      ASSERT_EQ(file.Open(), noErr);
      EXPECT_EQ(file.FileFormat().mSampleRate, rate);
      ASSERT_EQ(file.UseClientPcm(), noErr);
      // One frame at a time first: leftovers carry over from read to read.
      std::vector<int16_t> samples;
      for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(file.Read(1, samples), 1u);
      }
      const std::vector<int16_t> rest = file.ReadAll(333, 1000);
      samples.insert(samples.end(), rest.begin(), rest.end());
      EXPECT_EQ(static_cast<int64_t>(samples.size()),
                test_support::SourceFrames(recipe) * recipe.channels);
      EXPECT_TRUE(samples == test_support::ReferencePcm(path));
    }
  }
}

TEST(ExtAudioFileTest, EndOfDataKeepsGivingZeroFrames) {
  SKIP_WITHOUT_FFMPEG();
  MediaRecipe recipe;
  recipe.format = MediaFormat::kMp3Vbr;
  MemoryAudioFile file(MakeBytes(recipe));
  ASSERT_EQ(file.Open(), noErr);
  ASSERT_EQ(file.UseClientPcm(), noErr);
  file.ReadAll(8192);
  std::vector<int16_t> samples;
  for (int i = 0; i < 3; ++i) {
    OSStatus status = -1;
    EXPECT_EQ(file.Read(4096, samples, &status), 0u);
    EXPECT_EQ(status, noErr);
  }
}

TEST(ExtAudioFileTest, ReadIsBoundedByTheBufferSize) {
  SKIP_WITHOUT_FFMPEG();
  MediaRecipe recipe;
  recipe.format = MediaFormat::kFlac;
  MemoryAudioFile file(MakeBytes(recipe));
  ASSERT_EQ(file.Open(), noErr);
  ASSERT_EQ(file.UseClientPcm(), noErr);
  std::vector<int16_t> samples(1000 * 2 + 16, 0x7777);
  // Room for 1000 frames, though 5000 are asked for.
  AudioBufferList list{1, {{2, 1000 * 4, samples.data()}}};
  UInt32 frames = 5000;
  ASSERT_EQ(ExtAudioFileRead(file.decoder(), &frames, &list), noErr);
  EXPECT_EQ(frames, 1000u);
  EXPECT_EQ(samples[2000], 0x7777) << "written past the buffer";
}

TEST(ExtAudioFileTest, RefusesClientFormatsItCannotDeliver) {
  SKIP_WITHOUT_FFMPEG();
  MediaRecipe recipe;
  recipe.format = MediaFormat::kWav;
  MemoryAudioFile file(MakeBytes(recipe));
  ASSERT_EQ(file.Open(), noErr);
  const AudioStreamBasicDescription file_format = file.FileFormat();

  std::vector<int16_t> samples;
  OSStatus status = noErr;
  EXPECT_EQ(file.Read(100, samples, &status), 0u);
  EXPECT_NE(status, noErr) << "a read before any client format";

  AudioStreamBasicDescription mono{};
  mono.mSampleRate = file_format.mSampleRate;
  mono.mFormatID = kAudioFormatLinearPCM;
  mono.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
  mono.mBytesPerPacket = 2;
  mono.mFramesPerPacket = 1;
  mono.mBytesPerFrame = 2;
  mono.mChannelsPerFrame = 1;  // A mix-down.
  mono.mBitsPerChannel = 16;
  const ExtAudioFileRef decoder = file.decoder();
  EXPECT_NE(
      ExtAudioFileSetProperty(decoder, kExtAudioFileProperty_ClientDataFormat, sizeof mono, &mono),
      noErr);
  AudioStreamBasicDescription resampled = mono;
  resampled.mChannelsPerFrame = 2;
  resampled.mBytesPerFrame = resampled.mBytesPerPacket = 4;
  resampled.mSampleRate = 48000;
  EXPECT_NE(ExtAudioFileSetProperty(decoder, kExtAudioFileProperty_ClientDataFormat,
                                    sizeof resampled, &resampled),
            noErr);
  EXPECT_EQ(file.UseClientPcm(), noErr);
}

TEST(ExtAudioFileTest, OneDecoderPerFile) {
  SKIP_WITHOUT_FFMPEG();
  MediaRecipe recipe;
  MemoryAudioFile file(MakeBytes(recipe));
  ASSERT_EQ(file.Open(), noErr);
  file.FileFormat();
  ExtAudioFileRef second = nullptr;
  EXPECT_NE(ExtAudioFileWrapAudioFileID(file.file(), false, &second), noErr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(ExtAudioFileWrapAudioFileID(file.file(), true, &second), noErr);
}

// A file joined from a mono and a stereo MP3, as `cat` makes one, plays whole in the format it
// opened with, and its length counts every frame played.
TEST(ExtAudioFileTest, FormatChangesMidStreamAreConvertedNotDropped) {
  SKIP_WITHOUT_FFMPEG();
  using test_support::Recipe;
  // Channels only: mixed by libswresample as ffmpeg's own converter does, so exactly comparable.
  {
    const std::string path = test_support::JoinMedia(
        {Recipe(MediaFormat::kMp3Vbr, 1.0, 1, 44100), Recipe(MediaFormat::kMp3Vbr, 1.5, 2, 44100)});
    MemoryAudioFile file(test_support::ReadFile(path));
    ASSERT_EQ(file.Open(), noErr);
    ASSERT_EQ(file.UseClientPcm(), noErr);
    ASSERT_EQ(file.channels(), 1u);
    const std::vector<int16_t> samples = file.ReadAll(1000, 37);
    EXPECT_GE(samples.size(), 2.5 * 44100);
    EXPECT_EQ(samples.size(), file.PacketCount());
    EXPECT_TRUE(samples == test_support::ReferencePcm(path, 1, 44100));
  }
  // Rate and channels: the resampler's last frames at the change and at the end are not lost.
  {
    MemoryAudioFile file(test_support::ReadFile(
        test_support::JoinMedia({Recipe(MediaFormat::kMp3Cbr, 1.0, 1, 48000),
                                 Recipe(MediaFormat::kMp3Cbr, 1.5, 2, 22050)})));
    ASSERT_EQ(file.Open(), noErr);
    ASSERT_EQ(file.UseClientPcm(), noErr);
    const double rate = file.FileFormat().mSampleRate;
    const size_t frames = file.ReadAll(1000, 37).size() / file.channels();
    EXPECT_GE(frames, 2.5 * rate);
    EXPECT_EQ(frames, file.PacketCount());
  }
}

// Damage in the middle of a file costs the frames it hits; decoding goes on past it and ends
// normally.
TEST(ExtAudioFileTest, SkipsDamagedPacketsAndGoesOn) {
  SKIP_WITHOUT_FFMPEG();
  for (MediaFormat format : {MediaFormat::kMp3Cbr, MediaFormat::kFlac, MediaFormat::kM4aAac}) {
    SCOPED_TRACE(test_support::FormatName(format));
    MediaRecipe recipe;
    recipe.format = format;
    recipe.seconds = 3;
    MemoryAudioFile file(MakeBytes(recipe));
    ASSERT_EQ(file.Open(), noErr);
    const UInt64 count = file.PacketCount();
    std::string& bytes = file.bytes();
    // After open, as a file's content could differ from what its header promised.
    for (size_t i = bytes.size() * 2 / 5; i < bytes.size() / 2; i += 7) {
      bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    }
    ASSERT_EQ(file.UseClientPcm(), noErr);
    const size_t frames = file.ReadAll(4096).size() / file.channels();
    EXPECT_LE(frames, count);
    EXPECT_GE(frames, count / 2) << "decoding stopped at the damage";
  }
}

}  // namespace
