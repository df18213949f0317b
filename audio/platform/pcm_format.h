#pragma once

#include "audio/platform/audio_platform.h"

namespace audio_platform {

// True for the one PCM layout the decoder delivers and the outputs play: 16-bit signed
// integers, native-endian, packed and interleaved, one or more channels.
bool IsInterleaved16BitPcm(const AudioStreamBasicDescription& format);

}  // namespace audio_platform
