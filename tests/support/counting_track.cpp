#include "tests/support/counting_track.h"

#include <cstring>
#include <fstream>
#include <string>

namespace test_support {
namespace {

// Each sample carries a digit of the frame number in base kBase, plus one: never zero.
constexpr int64_t kBase = 30000;

void PutLittleEndian(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

std::string WavHeader(int64_t frames, int channels = 2) {
  const auto data_bytes = static_cast<uint32_t>(frames * 2 * channels);
  std::string header = "RIFF";
  PutLittleEndian(header, 36 + data_bytes, 4);
  header += "WAVEfmt ";
  PutLittleEndian(header, 16, 4);
  PutLittleEndian(header, 1, 2);  // PCM
  PutLittleEndian(header, static_cast<uint32_t>(channels), 2);
  PutLittleEndian(header, 44100, 4);
  PutLittleEndian(header, static_cast<uint32_t>(44100 * 2 * channels), 4);
  PutLittleEndian(header, static_cast<uint32_t>(2 * channels), 2);
  PutLittleEndian(header, 16, 2);
  header += "data";
  PutLittleEndian(header, data_bytes, 4);
  return header;
}

bool Write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

bool WriteCountingTrack(const std::filesystem::path& path, int64_t frames, int64_t first) {
  std::string bytes = WavHeader(frames);
  for (int64_t frame = first; frame < first + frames; ++frame) {
    PutLittleEndian(bytes, static_cast<uint32_t>(frame % kBase + 1), 2);
    PutLittleEndian(bytes, static_cast<uint32_t>(frame / kBase + 1), 2);
  }
  return Write(path, bytes);
}

bool WriteMarkerTrack(const std::filesystem::path& path, int64_t frames) {
  std::string bytes = WavHeader(frames, 1);
  for (int64_t frame = 0; frame < frames; ++frame) {
    PutLittleEndian(bytes, static_cast<uint16_t>(int16_t{-20000}), 2);
  }
  return Write(path, bytes);
}

bool IsCountedFrame(int16_t left, int16_t right) {
  return left > 0 && right > 0 && left <= kBase && right <= kBase;
}

int64_t CountedFrame(int16_t left, int16_t right) { return (right - 1) * kBase + (left - 1); }

std::vector<CountedRun> CountedRuns(const std::vector<int16_t>& stereo_samples) {
  std::vector<CountedRun> runs;
  for (size_t i = 0; i + 1 < stereo_samples.size(); i += 2) {
    if (stereo_samples[i] == 0 && stereo_samples[i + 1] == 0) {
      continue;
    }
    const int64_t frame = CountedFrame(stereo_samples[i], stereo_samples[i + 1]);
    if (!runs.empty() && frame == runs.back().last + 1) {
      runs.back().last = frame;
    } else {
      runs.push_back({frame, frame});
    }
  }
  return runs;
}

}  // namespace test_support
