#pragma once

// Turns FFmpeg's decoded frames, in whatever sample format the decoder delivers, into 16-bit
// signed interleaved samples at one fixed rate and channel count: the format a track opened
// with. Frames in that rate and channel count only change sample format and layout; frames
// that differ (a file joined from recordings of different formats) are resampled and mixed.

#include <cstdint>
#include <vector>

struct AVFrame;
struct SwrContext;

namespace ffmpeg_platform {

class PcmConverter {
 public:
  // Delivers `channels` channels at `sample_rate`.
  PcmConverter(int channels, int sample_rate) : channels_(channels), sample_rate_(sample_rate) {}
  ~PcmConverter();
  PcmConverter(const PcmConverter&) = delete;
  PcmConverter& operator=(const PcmConverter&) = delete;

  // Writes the frame's samples to the start of `out`, growing it when it is too small, together
  // with whatever the resampler still held from frames of an earlier format. Returns the frames
  // written, or a negative AVERROR (AVERROR(ENOMEM) when memory ran out). Runs on the audio
  // thread; allocates only when the frames' format changes or a frame does not fit `out`.
  int Convert(const AVFrame* frame, std::vector<int16_t>& out);

  // Writes to the start of `out` the frames that the resampler still holds, at the end of the
  // data. Returns the frames written (0 when it holds none) or a negative AVERROR.
  int Flush(std::vector<int16_t>& out);

 private:
  // What a decoded frame holds, as far as conversion goes.
  struct Input {
    int sample_format = -1;
    int channels = 0;
    int sample_rate = 0;
    bool operator==(const Input&) const = default;
  };

  // True when frames of `input` are already what this converter delivers.
  bool IsPassThrough(const Input& input) const;
  // (Re)builds the resampler for frames of `input`; a negative AVERROR when it cannot.
  int Configure(const Input& input);
  // Makes room in `out` for `frames` frames; false when memory ran out.
  bool Reserve(std::vector<int16_t>& out, int64_t frames) const;

  int channels_;
  int sample_rate_;
  SwrContext* swr_ = nullptr;  // Null before the first frame and while frames pass through.
  Input input_;                // What `swr_` was built for; the default before the first frame.
};

}  // namespace ffmpeg_platform
