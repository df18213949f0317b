#pragma once

// Fake audio files: a small text header that describes what the fake decoder delivers. Tests
// write them with WriteFakeAudioFile; the fake parses them from the bytes that the engine's read
// callback hands over, so anything else (a real MP3, an empty file) fails to open.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "audio/platform/audio_platform.h"

namespace fake_audio {

// What a fake file declares and how its decoder behaves.
struct FakeFileContents {
  bool has_info_dictionary = true;
  std::map<std::string, std::string> tags;  // Key to UTF-8 value; values hold no newline.
  UInt64 packet_count = 100;
  UInt32 frames_per_packet = 1152;
  Float64 sample_rate = 44100;
  UInt32 channels = 2;
  UInt64 total_frames = 100 * 1152;  // Frames the decoder delivers before the end.
  // The decoder fails once it has delivered this many frames; -1 for never.
  std::int64_t read_error_after_frames = -1;
  UInt32 seed = 1;  // Varies the sample pattern from one file to another.
};

// The file's bytes: a header line, then one "key=value" line per setting.
std::string EncodeFakeFile(const FakeFileContents& contents);
// The contents of `bytes`; false when they are not a fake audio file.
bool DecodeFakeFile(const std::string& bytes, FakeFileContents* contents);
void WriteFakeAudioFile(const std::filesystem::path& path, const FakeFileContents& contents);

// The sample the decoder delivers for `frame` and `channel`: never zero, different per seed.
std::int16_t FakeSample(UInt32 seed, UInt64 frame, UInt32 channel);
// The interleaved samples of frames [first_frame, first_frame + frame_count).
std::vector<std::int16_t> FakePcm(const FakeFileContents& contents, UInt64 first_frame,
                                  UInt64 frame_count);

}  // namespace fake_audio
