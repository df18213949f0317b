#include "audio/platform/ffmpeg_demuxer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace ffmpeg_platform {
namespace {

// FFmpeg's names of the demuxers whose files the program plays.
constexpr std::array<std::string_view, 4> kAllowedDemuxers = {"mp3", "wav", "flac",
                                                              "mov,mp4,m4a,3gp,3g2,mj2"};

// Probing reads up to 1 MB past an ID3v2 tag at the start of the file: enough to recognise the
// frames behind a tag holding cover art, while garbage named like audio fails after 1 MB rather
// than after the whole file.
constexpr unsigned kProbeBytesPastTag = 1u << 20;
constexpr unsigned kMaxProbeBytes = 32u << 20;

// How far probing may read: past the ID3v2 tag that opens the file, if any.
unsigned ProbeLimit(const ByteSource& source) {
  unsigned char header[10];
  UInt32 got = 0;
  if (source.read(source.client_data, 0, sizeof header, header, &got) != noErr ||
      got < sizeof header || std::memcmp(header, "ID3", 3) != 0) {
    return kProbeBytesPastTag;
  }
  // The tag's size: four 7-bit bytes, not counting the 10-byte header, nor a footer if flagged.
  const unsigned size = (header[6] & 0x7Fu) << 21 | (header[7] & 0x7Fu) << 14 |
                        (header[8] & 0x7Fu) << 7 | (header[9] & 0x7Fu);
  const unsigned footer = (header[5] & 0x10u) != 0 ? 10 : 0;
  return std::min<unsigned>(kMaxProbeBytes, sizeof header + size + footer + kProbeBytesPastTag);
}

bool IsAllowedDemuxer(const AVInputFormat* format) {
  for (std::string_view name : kAllowedDemuxers) {
    if (name == format->name) {
      return true;
    }
  }
  return false;
}

// libswresample converts at most this many channels; a stream with more could be opened but
// not decoded to 16-bit PCM (unless it already was), so it is refused whatever its samples.
constexpr int kMaxConvertibleChannels = 64;

bool IsPcm(AVCodecID id) {
  // The PCM codec ids form one block at the start of the audio ids, before ADPCM.
  return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

bool IsAllowedCodec(AVCodecID id) {
  return id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_FLAC || id == AV_CODEC_ID_AAC ||
         id == AV_CODEC_ID_ALAC || IsPcm(id);
}

// A file never makes FFmpeg open anything else (external references in MP4 files).
int RefuseIoOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

// FFmpeg trusts some sizes that a file declares and allocates them before reading a byte (a
// WAV's LIST chunk, for one): a file of a few bytes could make it take gigabytes. No allocation
// that a playable file needs comes near this (the largest, the packet index of a day-long M4A,
// is about 100 MB), so a larger one is refused: FFmpeg then drops what it was for (a tag) or
// fails to open the file.
constexpr size_t kMaxFfmpegAllocation = size_t{256} << 20;

// Process-wide FFmpeg settings, made once before the first file is opened: quiet logging and
// the allocation limit.
void ConfigureFfmpegOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_QUIET);
    av_max_alloc(kMaxFfmpegAllocation);
  });
}

OSStatus OpenContainer(Demuxer& demuxer, const ByteSource& source) {
  const AVInputFormat* input_format = nullptr;
  if (av_probe_input_buffer2(demuxer.io, &input_format, "", nullptr, 0, ProbeLimit(source)) < 0 ||
      input_format == nullptr) {
    return kAudioFileUnsupportedFileTypeError;
  }
  if (!IsAllowedDemuxer(input_format)) {
    return kAudioFileUnsupportedFileTypeError;
  }
  demuxer.format = avformat_alloc_context();
  if (demuxer.format == nullptr) {
    return kAudio_MemFullError;
  }
  demuxer.format->pb = demuxer.io;
  demuxer.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  demuxer.format->io_open = RefuseIoOpen;
  // On failure avformat_open_input frees the context and nulls the pointer.
  if (avformat_open_input(&demuxer.format, "", input_format, nullptr) < 0) {
    return kAudioFileInvalidFileError;
  }
  return noErr;
}

OSStatus ChooseAudioStream(Demuxer& demuxer) {
  AVFormatContext* format = demuxer.format;
  // Taken before stream info: afterwards FFmpeg may have filled in an estimate.
  std::vector<int64_t> header_durations(format->nb_streams);
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    header_durations[i] = format->streams[i]->duration;
  }
  if (avformat_find_stream_info(format, nullptr) < 0) {
    return kAudioFileInvalidFileError;
  }
  const AVCodec* decoder = nullptr;
  const int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (index < 0 || static_cast<unsigned>(index) >= header_durations.size() || decoder == nullptr) {
    return kAudioFileInvalidFileError;
  }
  AVStream* stream = format->streams[index];
  const AVCodecParameters* parameters = stream->codecpar;
  if (!IsAllowedCodec(parameters->codec_id) || parameters->sample_rate <= 0 ||
      parameters->ch_layout.nb_channels <= 0 ||
      parameters->ch_layout.nb_channels > kMaxConvertibleChannels) {
    return kAudioFileUnsupportedFileTypeError;
  }
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (static_cast<int>(i) != index) {
      format->streams[i]->discard = AVDISCARD_ALL;
    }
  }
  demuxer.stream = stream;
  demuxer.stream_index = index;
  demuxer.header_duration = header_durations[index];

  demuxer.codec = avcodec_alloc_context3(decoder);
  if (demuxer.codec == nullptr) {
    return kAudio_MemFullError;
  }
  if (avcodec_parameters_to_context(demuxer.codec, parameters) < 0) {
    return kAudioFileInvalidFileError;
  }
  demuxer.codec->pkt_timebase = stream->time_base;
  if (avcodec_open2(demuxer.codec, decoder, nullptr) < 0) {
    return kAudioFileUnsupportedFileTypeError;
  }
  return noErr;
}

}  // namespace

Demuxer::~Demuxer() {
  avcodec_free_context(&codec);
  avformat_close_input(&format);
  CloseMemoryIo(io);
}

std::unique_ptr<Demuxer> OpenDemuxer(const ByteSource* source, OSStatus* out_status) {
  ConfigureFfmpegOnce();
  std::unique_ptr<Demuxer> demuxer(new (std::nothrow) Demuxer);
  if (demuxer == nullptr) {
    *out_status = kAudio_MemFullError;
    return nullptr;
  }
  demuxer->io = OpenMemoryIo(source);
  if (demuxer->io == nullptr) {
    *out_status = kAudio_MemFullError;
    return nullptr;
  }
  OSStatus status = OpenContainer(*demuxer, *source);
  if (status == noErr) {
    status = ChooseAudioStream(*demuxer);
  }
  *out_status = status;
  if (status != noErr) {
    return nullptr;
  }
  return demuxer;
}

}  // namespace ffmpeg_platform
