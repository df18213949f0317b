// Replays, through the real platform, every input on which the load-path fuzzer once found a
// fault: each must now either fail to load, quietly, or decode to its end.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fuzz/load_path.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> RegressionInputs() {
  std::vector<fs::path> inputs;
  for (const fs::directory_entry& entry : fs::directory_iterator(BREVALO_FUZZ_REGRESSIONS)) {
    if (entry.is_regular_file()) {
      inputs.push_back(entry.path());
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

TEST(LoadRegressionTest, EveryKeptInputFailsCleanlyOrDecodesToItsEnd) {
  const std::vector<fs::path> inputs = RegressionInputs();
  ASSERT_FALSE(inputs.empty()) << "no inputs in " << BREVALO_FUZZ_REGRESSIONS;
  for (const fs::path& input : inputs) {
    SCOPED_TRACE(input.filename().string());
    ::testing::internal::CaptureStderr();
    const fuzz::LoadPathResult result = fuzz::RunLoadPath(input.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(result.broken_promise, "");
    if (result.loaded) {
      EXPECT_LE(result.decoded_frames, result.declared_frames);
    }
  }
}

}  // namespace
