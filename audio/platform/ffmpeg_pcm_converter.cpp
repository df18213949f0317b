#include "audio/platform/ffmpeg_pcm_converter.h"

#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace ffmpeg_platform {

PcmConverter::~PcmConverter() { swr_free(&swr_); }

bool PcmConverter::Configure(int sample_format) {
  swr_free(&swr_);
  input_format_ = -1;
  // The same layout on both sides, whatever the file declares: libswresample then only
  // changes the sample format and interleaves, and never mixes channels.
  AVChannelLayout layout;
  av_channel_layout_default(&layout, channels_);
  const int status =
      swr_alloc_set_opts2(&swr_, &layout, AV_SAMPLE_FMT_S16, sample_rate_, &layout,
                          static_cast<AVSampleFormat>(sample_format), sample_rate_, 0, nullptr);
  av_channel_layout_uninit(&layout);
  if (status < 0 || swr_init(swr_) < 0) {
    swr_free(&swr_);
    return false;
  }
  input_format_ = sample_format;
  return true;
}

int PcmConverter::Convert(const AVFrame* frame, int16_t* out) {
  if (frame->format == AV_SAMPLE_FMT_S16) {
    std::memcpy(out, frame->data[0],
                static_cast<size_t>(frame->nb_samples) * static_cast<size_t>(channels_) * 2);
    return frame->nb_samples;
  }
  if (frame->format != input_format_ && !Configure(frame->format)) {
    return AVERROR(EINVAL);
  }
  auto* destination = reinterpret_cast<uint8_t*>(out);
  return swr_convert(swr_, &destination, frame->nb_samples,
                     const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
}

}  // namespace ffmpeg_platform
