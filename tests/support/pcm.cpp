#include "tests/support/pcm.h"

#include <algorithm>
#include <cstring>

namespace test_support {
namespace {

bool SilentFrame(const std::vector<int16_t>& samples, size_t first, int channels) {
  return std::all_of(samples.begin() + static_cast<std::ptrdiff_t>(first),
                     samples.begin() + static_cast<std::ptrdiff_t>(first) + channels,
                     [](int16_t sample) { return sample == 0; });
}

}  // namespace

std::vector<int16_t> SamplesOf(const std::string& bytes) {
  std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
  return samples;
}

std::vector<int16_t> WithoutSilentFrames(const std::vector<int16_t>& samples, int channels) {
  std::vector<int16_t> kept;
  kept.reserve(samples.size());
  for (size_t frame = 0; frame + channels <= samples.size(); frame += channels) {
    if (!SilentFrame(samples, frame, channels)) {
      kept.insert(kept.end(), samples.begin() + static_cast<std::ptrdiff_t>(frame),
                  samples.begin() + static_cast<std::ptrdiff_t>(frame) + channels);
    }
  }
  return kept;
}

std::vector<int64_t> InnerSilences(const std::vector<int16_t>& samples, int channels) {
  std::vector<int64_t> silences;
  bool sound_seen = false;
  int64_t run = 0;
  for (size_t frame = 0; frame + channels <= samples.size(); frame += channels) {
    if (SilentFrame(samples, frame, channels)) {
      ++run;
      continue;
    }
    if (sound_seen && run > 0) {
      silences.push_back(run);
    }
    sound_seen = true;
    run = 0;
  }
  return silences;
}

}  // namespace test_support
