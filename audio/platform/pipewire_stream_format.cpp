#include "audio/platform/pipewire_stream_format.h"

#include <algorithm>
#include <string>

#include <spa/param/audio/format-utils.h>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace pipewire_platform {
namespace {

spa_audio_channel SpaPosition(AVChannel channel, int index) {
  switch (channel) {
    case AV_CHAN_FRONT_LEFT:
      return SPA_AUDIO_CHANNEL_FL;
    case AV_CHAN_FRONT_RIGHT:
      return SPA_AUDIO_CHANNEL_FR;
    case AV_CHAN_FRONT_CENTER:
      return SPA_AUDIO_CHANNEL_FC;
    case AV_CHAN_LOW_FREQUENCY:
      return SPA_AUDIO_CHANNEL_LFE;
    case AV_CHAN_BACK_LEFT:
      return SPA_AUDIO_CHANNEL_RL;
    case AV_CHAN_BACK_RIGHT:
      return SPA_AUDIO_CHANNEL_RR;
    case AV_CHAN_BACK_CENTER:
      return SPA_AUDIO_CHANNEL_RC;
    case AV_CHAN_FRONT_LEFT_OF_CENTER:
      return SPA_AUDIO_CHANNEL_FLC;
    case AV_CHAN_FRONT_RIGHT_OF_CENTER:
      return SPA_AUDIO_CHANNEL_FRC;
    case AV_CHAN_SIDE_LEFT:
      return SPA_AUDIO_CHANNEL_SL;
    case AV_CHAN_SIDE_RIGHT:
      return SPA_AUDIO_CHANNEL_SR;
    default:
      return static_cast<spa_audio_channel>(SPA_AUDIO_CHANNEL_AUX0 + index);
  }
}

}  // namespace

pw_properties* StreamProperties(const AudioStreamBasicDescription& format) {
  const auto rate = static_cast<UInt32>(format.mSampleRate);
  // The quantum's length at the stream's rate; the graph takes the rest from its own.
  const auto latency_frames = static_cast<UInt32>(UInt64{kQuantumFrames} * rate / 44100);
  pw_properties* properties = pw_properties_new(
      PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
      PW_KEY_APP_NAME, "Brevalo", PW_KEY_NODE_NAME, "brevalo", nullptr);
  if (properties != nullptr) {
    pw_properties_set(properties, PW_KEY_NODE_LATENCY,
                      (std::to_string(latency_frames) + "/" + std::to_string(rate)).c_str());
    pw_properties_set(properties, PW_KEY_NODE_RATE, ("1/" + std::to_string(rate)).c_str());
  }
  return properties;
}

const spa_pod* StreamFormat(spa_pod_builder& builder, const AudioStreamBasicDescription& format) {
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_S16;
  info.rate = static_cast<uint32_t>(format.mSampleRate);
  info.channels = format.mChannelsPerFrame;
  if (info.channels == 1) {
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
  } else {
    AVChannelLayout layout;
    av_channel_layout_default(&layout, static_cast<int>(info.channels));
    for (int i = 0; i < static_cast<int>(std::min<uint32_t>(info.channels, SPA_AUDIO_MAX_CHANNELS));
         ++i) {
      info.position[i] = SpaPosition(av_channel_layout_channel_from_index(&layout, i), i);
    }
    av_channel_layout_uninit(&layout);
  }
  return spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
}

}  // namespace pipewire_platform
