#pragma once

// A stereo 44.1 kHz WAV whose frames count: frame n holds n in its two samples, never an
// all-zero frame. Any stretch of a recording then tells which frames of the track it holds, so
// a resume after a restart can be placed to the frame, with no search and no ambiguity.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace test_support {

// Writes a counting track of `frames` frames to `path`; false when it cannot be written.
bool WriteCountingTrack(const std::filesystem::path& path, int64_t frames);

// The frames a recording holds, silence left out, as runs of consecutive frame numbers.
struct CountedRun {
  int64_t first = 0;
  int64_t last = 0;  // Inclusive.
};
std::vector<CountedRun> CountedRuns(const std::vector<int16_t>& stereo_samples);

}  // namespace test_support
