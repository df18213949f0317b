// Sizes that a file declares but does not hold must not turn into memory that the loader takes.

#include <cstdint>
#include <string>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "tests/fuzz/load_path.h"
#include "tests/support/temp_dir.h"

namespace {

// Far more than any allocation made for a file of a few kilobytes may add to the peak.
constexpr long kToleratedGrowthKb = 200 * 1024;

void AppendLe(std::string& bytes, uint64_t value, int byte_count) {
  for (int i = 0; i < byte_count; ++i) {
    bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

void AppendChunk(std::string& bytes, const char* id, uint32_t declared_size,
                 const std::string& content) {
  bytes += id;
  AppendLe(bytes, declared_size, 4);
  bytes += content;
}

// A playable mono 16-bit WAV of one second at 8 kHz, whose data chunk is followed by a LIST
// chunk that declares `list_size` bytes (and a title entry almost as large) but holds a few.
std::string WavWithOversizedList(uint32_t list_size) {
  std::string format;
  AppendLe(format, 1, 2);         // PCM
  AppendLe(format, 1, 2);         // channels
  AppendLe(format, 8000, 4);      // sample rate
  AppendLe(format, 8000 * 2, 4);  // bytes per second
  AppendLe(format, 2, 2);         // bytes per frame
  AppendLe(format, 16, 2);        // bits per sample
  std::string samples;
  for (int i = 0; i < 8000; ++i) {
    AppendLe(samples, static_cast<uint16_t>((i * 37) % 2000 + 100), 2);
  }
  std::string info = "INFO";
  AppendChunk(info, "INAM", list_size - 64, "Title");
  std::string body = "WAVE";
  AppendChunk(body, "fmt ", static_cast<uint32_t>(format.size()), format);
  AppendChunk(body, "data", static_cast<uint32_t>(samples.size()), samples);
  AppendChunk(body, "LIST", list_size, info);
  std::string file;
  AppendChunk(file, "RIFF", static_cast<uint32_t>(body.size()), body);
  return file;
}

long PeakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(LoadMemoryTest, AnInfoListLargerThanTheFileTakesNoMemoryForItsSize) {
  test_support::TempDir dir;
  const std::string path = dir / "oversized list.wav";
  test_support::WriteFile(path, WavWithOversizedList(1500u << 20));

  const long before = PeakResidentKb();
  const fuzz::LoadPathResult result = fuzz::RunLoadPath(path.c_str());
  const long growth = PeakResidentKb() - before;

  EXPECT_LT(growth, kToleratedGrowthKb)
      << "a file of 16 kB made the loader take " << growth << " kB";
  // The damage is in the tags alone: the sound still plays, whole.
  EXPECT_TRUE(result.loaded);
  EXPECT_EQ(result.declared_frames, 8000u);
  EXPECT_EQ(result.decoded_frames, 8000u);
  EXPECT_EQ(result.broken_promise, "");
}

}  // namespace
