#pragma once

// Turns FFmpeg's decoded frames, in whatever sample format the decoder delivers, into 16-bit
// signed interleaved samples: a change of sample format and layout only, never of rate or
// channel count.

#include <cstdint>

struct AVFrame;
struct SwrContext;

namespace ffmpeg_platform {

class PcmConverter {
 public:
  // For frames of `channels` channels at `sample_rate`.
  PcmConverter(int channels, int sample_rate) : channels_(channels), sample_rate_(sample_rate) {}
  ~PcmConverter();
  PcmConverter(const PcmConverter&) = delete;
  PcmConverter& operator=(const PcmConverter&) = delete;

  // Writes the frame's samples to `out`, which has room for frame->nb_samples x channels.
  // Returns the frames written, or a negative AVERROR. The frame must have this converter's
  // channel count and rate. Runs on the audio thread; allocates only when the decoder's
  // sample format changes.
  int Convert(const AVFrame* frame, int16_t* out);

 private:
  // (Re)builds the resampler context for frames in `sample_format`; false when it cannot.
  bool Configure(int sample_format);

  int channels_;
  int sample_rate_;
  SwrContext* swr_ = nullptr;
  int input_format_ = -1;  // The sample format `swr_` was built for; -1 before the first.
};

}  // namespace ffmpeg_platform
