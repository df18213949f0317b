#include "audio/platform/pcm_format.h"

namespace audio_platform {

bool IsInterleaved16BitPcm(const AudioStreamBasicDescription& format) {
  const AudioFormatFlags required = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
  const AudioFormatFlags refused =
      kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsNonInterleaved;
  return format.mFormatID == kAudioFormatLinearPCM &&
         (format.mFormatFlags & required) == required && (format.mFormatFlags & refused) == 0 &&
         format.mBitsPerChannel == 16 && format.mChannelsPerFrame >= 1 &&
         format.mBytesPerFrame == 2 * format.mChannelsPerFrame;
}

}  // namespace audio_platform
