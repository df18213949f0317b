#pragma once

// An opened audio file as FFmpeg sees it: the container, its one chosen audio stream and an
// opened decoder for that stream.

#include <memory>

#include "audio/platform/audio_platform.h"
#include "audio/platform/ffmpeg_memory_io.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;

namespace ffmpeg_platform {

// Owns the I/O context, the container and the decoder; frees them in the right order.
struct Demuxer {
  Demuxer() = default;
  ~Demuxer();
  Demuxer(const Demuxer&) = delete;
  Demuxer& operator=(const Demuxer&) = delete;

  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;
  int stream_index = -1;
  // The stream's length as the container's header states it, in the stream's time base, before
  // FFmpeg fills in estimates; AV_NOPTS_VALUE when the header gives none.
  int64_t header_duration = 0;
};

// Opens `source`, which must outlive the result, positioned at the start of its audio. Only
// MP3, WAV, FLAC and MP4/M4A containers with MP3, PCM, FLAC, AAC or ALAC audio of 1 to 64
// channels are accepted, and only when the decoder opens. Sets `*out_status` on failure (then null
// is returned). May throw std::bad_alloc.
std::unique_ptr<Demuxer> OpenDemuxer(const ByteSource* source, OSStatus* out_status);

}  // namespace ffmpeg_platform
