#pragma once

// Interleaved 16-bit PCM as the outputs played it: the test media never hold an all-zero
// frame, so silence an output adds (before the start, while paused, between tracks) can be
// dropped without ambiguity.

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// Native-endian 16-bit samples from raw bytes; a trailing odd byte is dropped.
std::vector<int16_t> SamplesOf(const std::string& bytes);

// `samples` without the frames that are all zeros.
std::vector<int16_t> WithoutSilentFrames(const std::vector<int16_t>& samples, int channels);

// The all-zero runs between the first and the last frame that is not silent, in frames, in
// order.
std::vector<int64_t> InnerSilences(const std::vector<int16_t>& samples, int channels);

}  // namespace test_support
