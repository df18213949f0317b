// Hostile files through the load path on the real platform: sizes a file declares but does not
// hold, and formats that cannot be delivered as 16-bit PCM.

#include "tests/fuzz/load_path.h"

#include <string>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "tests/fuzz/crafted_wav.h"
#include "tests/support/temp_dir.h"

namespace {

// Far more than any allocation made for a file of a few kilobytes may add to the peak.
constexpr long kToleratedGrowthKb = 200 * 1024;

long PeakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class LoadPathTest : public ::testing::Test {
 protected:
  fuzz::LoadPathResult Run(const fuzz::CraftedWav& wav) {
    const std::string path = dir_ / "crafted.wav";
    test_support::WriteFile(path, fuzz::MakeWav(wav));
    ::testing::internal::CaptureStderr();
    fuzz::LoadPathResult result = fuzz::RunLoadPath(path.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    return result;
  }

  test_support::TempDir dir_;
};

TEST_F(LoadPathTest, AnInfoListLargerThanTheFileTakesNoMemoryForItsSize) {
  fuzz::CraftedWav wav;
  wav.list_size = 1500u << 20;
  const long before = PeakResidentKb();
  const fuzz::LoadPathResult result = Run(wav);
  const long growth = PeakResidentKb() - before;

  EXPECT_LT(growth, kToleratedGrowthKb)
      << "a file of 16 kB made the loader take " << growth << " kB";
  // The damage is in the tags alone: the sound still plays, whole.
  EXPECT_TRUE(result.loaded);
  EXPECT_EQ(result.declared_frames, 8000u);
  EXPECT_EQ(result.decoded_frames, 8000u);
  EXPECT_EQ(result.broken_promise, "");
}

TEST_F(LoadPathTest, AsManyChannelsAsCanBeConvertedLoadAndDecodeWhole) {
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    fuzz::CraftedWav wav;
    wav.channels = 64;
    wav.bits_per_sample = bits;
    wav.frames = 1000;
    const fuzz::LoadPathResult result = Run(wav);
    EXPECT_TRUE(result.loaded);
    EXPECT_EQ(result.decoded_frames, 1000u);
    EXPECT_EQ(result.broken_promise, "");
  }
}

// 8-bit samples must be converted, which works for at most 64 channels: a file with more
// fails to load, instead of loading and then failing every read.
TEST_F(LoadPathTest, MoreChannelsThanCanBeConvertedFailToLoad) {
  for (int channels : {65, 145, 1000}) {
    for (int bits : {8, 16}) {
      SCOPED_TRACE(std::to_string(channels) + " channels of " + std::to_string(bits) + " bits");
      fuzz::CraftedWav wav;
      wav.channels = channels;
      wav.bits_per_sample = bits;
      wav.frames = 100;
      const fuzz::LoadPathResult result = Run(wav);
      EXPECT_FALSE(result.loaded);
      EXPECT_EQ(result.broken_promise, "");
    }
  }
}

}  // namespace
