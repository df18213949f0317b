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

// The encoder and decoder delay of an MP3 (576 + 529) and one frame of padding: what a file
// without a LAME header cannot tell apart from the signal.
constexpr int64_t kMp3UndeclaredDelay = 1105 + 1152;

MediaRecipe TaggedRecipe(MediaFormat format, int channels) {
  MediaRecipe recipe;
  recipe.format = format;
  recipe.channels = channels;
  recipe.seconds = 1.5;
  recipe.tags = {"Unter den Linden", "Brevalo Ensemble", "Études", "2004-05-12", "Ambient"};
  return recipe;
}

std::string Load(const MediaRecipe& recipe) {
  const std::string path = test_support::MakeMedia(recipe);
  return path.empty() ? std::string() : test_support::ReadFile(path);
}

struct FormatAndChannels {
  MediaFormat format;
  int channels;
};

class AudioFileFormatTest : public ::testing::TestWithParam<FormatAndChannels> {};

TEST_P(AudioFileFormatTest, OpensWithTheMp3HintAndGivesTagsFormatAndLength) {
  SKIP_WITHOUT_FFMPEG();
  const MediaRecipe recipe = TaggedRecipe(GetParam().format, GetParam().channels);
  MemoryAudioFile file(Load(recipe));
  ASSERT_EQ(file.Open(), noErr);

  const platform_test::InfoTexts info = file.Info();
  EXPECT_EQ(info.values.at("title"), "Unter den Linden");
  EXPECT_EQ(info.values.at("artist"), "Brevalo Ensemble");
  EXPECT_EQ(info.values.at("album"), "Études");
  EXPECT_EQ(info.values.at("year"), "2004");
  EXPECT_EQ(info.values.at("genre"), "Ambient");

  const AudioStreamBasicDescription format = file.FileFormat();
  EXPECT_EQ(format.mSampleRate, recipe.sample_rate);
  EXPECT_EQ(format.mChannelsPerFrame, static_cast<UInt32>(recipe.channels));
  ASSERT_GT(format.mFramesPerPacket, 0u);

  const auto frames = static_cast<int64_t>(file.PacketCount() * format.mFramesPerPacket);
  if (recipe.format == MediaFormat::kMp3VbrWithoutXing) {
    // No header tells the delay: the length is every decoded frame, counted, not estimated.
    EXPECT_GE(frames, test_support::SourceFrames(recipe));
    EXPECT_LE(frames, test_support::SourceFrames(recipe) + kMp3UndeclaredDelay);
  } else {
    EXPECT_EQ(frames, test_support::SourceFrames(recipe));
  }
}

TEST_P(AudioFileFormatTest, DecodesExactlyThePacketCountOfFrames) {
  SKIP_WITHOUT_FFMPEG();
  MediaRecipe recipe = TaggedRecipe(GetParam().format, GetParam().channels);
  const std::string path = test_support::MakeMedia(recipe);
  MemoryAudioFile file(test_support::ReadFile(path));
  ASSERT_EQ(file.Open(), noErr);
  const UInt64 packets = file.PacketCount();
  ASSERT_EQ(file.UseClientPcm(), noErr);
  const std::vector<int16_t> samples = file.ReadAll(4096, 777);
  const size_t channels = static_cast<size_t>(recipe.channels);
  EXPECT_EQ(samples.size() / channels, packets * file.FileFormat().mFramesPerPacket);

  // ffmpeg's own decoding keeps padding that an MP4 edit list declares; ours stops at the
  // declared length, so only that much is compared.
  const std::vector<int16_t> reference = test_support::ReferencePcm(path);
  ASSERT_GE(reference.size(), samples.size());
  const std::vector<int16_t> reference_prefix(reference.begin(),
                                              reference.begin() + samples.size());
  if (recipe.format == MediaFormat::kM4aAac) {
    EXPECT_LT(reference.size() / channels - samples.size() / channels, 1024u)
        << "no more than an AAC frame of padding past the edit list";
  } else {
    EXPECT_EQ(reference.size(), samples.size());
  }
  EXPECT_TRUE(samples == reference_prefix) << "decoded samples differ from ffmpeg's";
}

// The length of a clean MP3 comes from its frame headers; it must be what the decoder delivers
// for every MPEG version and tag layout, and for a file cut inside a frame, which is counted.
TEST(AudioFileMp3LengthTest, EveryMpegVersionAndTagLayoutGivesTheDecodedLength) {
  SKIP_WITHOUT_FFMPEG();
  struct Case {
    MediaFormat format;
    int rate;
    int channels;
    bool id3v1_only;
  };
  for (const Case& shape :
       {Case{MediaFormat::kMp3Cbr, 48000, 2, true}, Case{MediaFormat::kMp3Vbr, 32000, 1, false},
        Case{MediaFormat::kMp3Cbr, 22050, 1, false}, Case{MediaFormat::kMp3Vbr, 16000, 2, true},
        Case{MediaFormat::kMp3Vbr, 11025, 1, false}, Case{MediaFormat::kMp3Vbr, 8000, 2, false}}) {
    SCOPED_TRACE(test_support::FormatName(shape.format) + " " + std::to_string(shape.rate));
    MediaRecipe recipe = TaggedRecipe(shape.format, shape.channels);
    recipe.sample_rate = shape.rate;
    recipe.id3v1_only = shape.id3v1_only;
    const std::string bytes = Load(recipe);
    for (const std::string& cut : {bytes, bytes.substr(0, bytes.size() * 2 / 3)}) {
      MemoryAudioFile file(cut);
      ASSERT_EQ(file.Open(), noErr);
      const UInt64 length = file.PacketCount();
      if (cut.size() == bytes.size()) {
        EXPECT_EQ(length, static_cast<UInt64>(test_support::SourceFrames(recipe)));
      }
      ASSERT_EQ(file.UseClientPcm(), noErr);
      EXPECT_EQ(file.ReadAll(4096, 777).size() / file.channels(), length)
          << (cut.size() == bytes.size() ? "whole" : "cut");
    }
  }
}

std::vector<FormatAndChannels> AllFormatsMonoAndStereo() {
  std::vector<FormatAndChannels> cases;
  for (MediaFormat format : test_support::kPlayableFormats) {
    cases.push_back({format, 2});
    cases.push_back({format, 1});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Formats, AudioFileFormatTest,
                         ::testing::ValuesIn(AllFormatsMonoAndStereo()),
                         [](const ::testing::TestParamInfo<FormatAndChannels>& info) {
                           return test_support::FormatName(info.param.format) +
                                  (info.param.channels == 1 ? "_mono" : "_stereo");
                         });

}  // namespace
