#pragma once

// WAV files written byte by byte, with the sizes and counts that a hostile file may declare.

#include <cstdint>
#include <string>

namespace fuzz {

struct CraftedWav {
  int channels = 1;
  int sample_rate = 8000;
  int bits_per_sample = 16;  // 8 (unsigned) or 16 (signed) PCM.
  int frames = 8000;
  // When non-zero, a LIST chunk after the data declares this many bytes (and a title entry
  // almost as many) but holds only a few.
  uint32_t list_size = 0;
};

// The file's bytes: a RIFF header, "fmt ", "data" with a quiet tone, and the LIST chunk if asked.
std::string MakeWav(const CraftedWav& wav);

}  // namespace fuzz
