#include "tests/fuzz/crafted_wav.h"

namespace fuzz {
namespace {

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

std::string FormatChunk(const CraftedWav& wav) {
  const int bytes_per_frame = wav.channels * wav.bits_per_sample / 8;
  std::string format;
  AppendLe(format, 1, 2);  // PCM
  AppendLe(format, static_cast<uint64_t>(wav.channels), 2);
  AppendLe(format, static_cast<uint64_t>(wav.sample_rate), 4);
  AppendLe(format, static_cast<uint64_t>(wav.sample_rate) * bytes_per_frame, 4);
  AppendLe(format, static_cast<uint64_t>(bytes_per_frame), 2);
  AppendLe(format, static_cast<uint64_t>(wav.bits_per_sample), 2);
  return format;
}

// A tone that stays clear of zero in both sample widths.
std::string Samples(const CraftedWav& wav) {
  std::string samples;
  for (int frame = 0; frame < wav.frames; ++frame) {
    const int level = (frame * 37) % 100 + 20;
    for (int channel = 0; channel < wav.channels; ++channel) {
      if (wav.bits_per_sample == 8) {
        AppendLe(samples, static_cast<uint64_t>(128 + level), 1);
      } else {
        AppendLe(samples, static_cast<uint64_t>(level * 100), 2);
      }
    }
  }
  return samples;
}

}  // namespace

std::string MakeWav(const CraftedWav& wav) {
  const std::string samples = Samples(wav);
  std::string body = "WAVE";
  AppendChunk(body, "fmt ", 16, FormatChunk(wav));
  AppendChunk(body, "data", static_cast<uint32_t>(samples.size()), samples);
  if (wav.list_size != 0) {
    std::string info = "INFO";
    AppendChunk(info, "INAM", wav.list_size - 64, "Title");
    AppendChunk(body, "LIST", wav.list_size, info);
  }
  std::string file;
  AppendChunk(file, "RIFF", static_cast<uint32_t>(body.size()), body);
  return file;
}

}  // namespace fuzz
