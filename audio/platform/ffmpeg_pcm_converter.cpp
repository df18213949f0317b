#include "audio/platform/ffmpeg_pcm_converter.h"

#include <cstring>
#include <new>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace ffmpeg_platform {

PcmConverter::~PcmConverter() { swr_free(&swr_); }

int PcmConverter::Convert(const AVFrame* frame, std::vector<int16_t>& out) {
  const Input input{frame->format, frame->ch_layout.nb_channels, frame->sample_rate};
  int written = 0;
  if (!(input == input_)) {
    // The resampler's last frames of the earlier format come before this frame's.
    written = Flush(out);
    if (written < 0) {
      return written;
    }
    const int status = Configure(input);
    if (status < 0) {
      return status;
    }
  }
  if (swr_ == nullptr) {
    if (!Reserve(out, int64_t{written} + frame->nb_samples)) {
      return AVERROR(ENOMEM);
    }
    std::memcpy(out.data() + static_cast<size_t>(written) * channels_, frame->data[0],
                static_cast<size_t>(frame->nb_samples) * static_cast<size_t>(channels_) * 2);
    return written + frame->nb_samples;
  }
  const int room = swr_get_out_samples(swr_, frame->nb_samples);
  if (room < 0) {
    return room;
  }
  if (!Reserve(out, int64_t{written} + room)) {
    return AVERROR(ENOMEM);
  }
  auto* destination =
      reinterpret_cast<uint8_t*>(out.data() + static_cast<size_t>(written) * channels_);
  const int converted =
      swr_convert(swr_, &destination, room, const_cast<const uint8_t**>(frame->extended_data),
                  frame->nb_samples);
  return converted < 0 ? converted : written + converted;
}

bool PcmConverter::IsPassThrough(const Input& input) const {
  return input.sample_format == AV_SAMPLE_FMT_S16 && input.channels == channels_ &&
         input.sample_rate == sample_rate_;
}

int PcmConverter::Configure(const Input& input) {
  swr_free(&swr_);
  input_ = Input{};
  if (input.channels <= 0 || input.sample_rate <= 0) {
    return AVERROR(EINVAL);
  }
  if (!IsPassThrough(input)) {
    // Default layouts for both channel counts, whatever the file declares: frames with the
    // track's own count then only change sample format and interleave, and are never mixed.
    AVChannelLayout from;
    AVChannelLayout to;
    av_channel_layout_default(&from, input.channels);
    av_channel_layout_default(&to, channels_);
    int status = swr_alloc_set_opts2(&swr_, &to, AV_SAMPLE_FMT_S16, sample_rate_, &from,
                                     static_cast<AVSampleFormat>(input.sample_format),
                                     input.sample_rate, 0, nullptr);
    av_channel_layout_uninit(&from);
    av_channel_layout_uninit(&to);
    if (status >= 0) {
      status = swr_init(swr_);
    }
    if (status < 0) {
      swr_free(&swr_);
      return status;
    }
  }
  input_ = input;
  return 0;
}

int PcmConverter::Flush(std::vector<int16_t>& out) {
  if (swr_ == nullptr) {
    return 0;
  }
  const int held = swr_get_out_samples(swr_, 0);
  if (held <= 0) {
    return held;
  }
  if (!Reserve(out, held)) {
    return AVERROR(ENOMEM);
  }
  auto* destination = reinterpret_cast<uint8_t*>(out.data());
  return swr_convert(swr_, &destination, held, nullptr, 0);
}

bool PcmConverter::Reserve(std::vector<int16_t>& out, int64_t frames) const {
  const auto samples = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
  if (out.size() >= samples) {
    return true;
  }
  try {
    out.resize(samples);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace ffmpeg_platform
