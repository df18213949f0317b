#pragma once

// A stereo 44.1 kHz WAV whose frames count: frame n holds n in its two samples, never an
// all-zero frame. Any stretch of a recording then tells which frames of the track it holds, so
// a resume after a restart can be placed to the frame, with no search and no ambiguity.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace test_support {

// Writes a counting track of `frames` frames to `path`, its first frame numbered `first` (an
// album cut from one count); false when it cannot be written.
bool WriteCountingTrack(const std::filesystem::path& path, int64_t frames, int64_t first = 0);

// Writes a mono 44.1 kHz WAV of `frames` frames whose samples are all negative: heard between
// counting tracks, it can be told from them and from silence.
bool WriteMarkerTrack(const std::filesystem::path& path, int64_t frames);

// True when a recorded stereo frame is one of a counting track's: both samples count.
bool IsCountedFrame(int16_t left, int16_t right);
// The number a counted frame carries.
int64_t CountedFrame(int16_t left, int16_t right);

// The frames a recording holds, silence left out, as runs of consecutive frame numbers.
struct CountedRun {
  int64_t first = 0;
  int64_t last = 0;  // Inclusive.
};
std::vector<CountedRun> CountedRuns(const std::vector<int16_t>& stereo_samples);

}  // namespace test_support
