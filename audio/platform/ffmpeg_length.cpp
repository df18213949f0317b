#include "audio/platform/ffmpeg_length.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
}

#include "audio/platform/mp3_frame_walk.h"

namespace ffmpeg_platform {
namespace {

AVRational SampleTimeBase(const Demuxer& demuxer) {
  return AVRational{1, demuxer.stream->codecpar->sample_rate};
}

// The MP3 demuxer's header length is the frame count of the Xing/Info header, delay and
// padding included; the LAME padding reaches us only as skip side data on the packets.
bool HeaderLengthIsExact(const Demuxer& demuxer) {
  return std::strcmp(demuxer.format->iformat->name, "mp3") != 0 &&
         demuxer.header_duration != AV_NOPTS_VALUE && demuxer.header_duration > 0;
}

// Samples that the decoder drops from this packet's start and end, as the file declares.
int64_t SkippedSamples(const AVPacket* packet) {
  size_t size = 0;
  const uint8_t* skip = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
  if (skip == nullptr || size < 8) {
    return 0;
  }
  return int64_t{AV_RL32(skip)} + int64_t{AV_RL32(skip + 4)};
}

// True when the MP3 decoder plays nothing of the packet: it does not open with a valid frame
// header. In a file joined from two MP3s, the parser glues the second one's ID3v2 tag to the
// frame after it, and the decoder refuses the whole packet.
bool IsRefusedMp3Packet(const AVPacket* packet) {
  if (packet->size < 4) {
    return true;
  }
  const uint32_t header = AV_RB32(packet->data);
  const bool sync = (header & 0xFFE00000u) == 0xFFE00000u;
  const bool reserved_version = (header & (3u << 19)) == 1u << 19;
  const bool reserved_layer = (header & (3u << 17)) == 0;
  const bool bad_bit_rate = (header & (0xFu << 12)) == 0xFu << 12;
  const bool reserved_rate = (header & (3u << 10)) == 3u << 10;
  return !sync || reserved_version || reserved_layer || bad_bit_rate || reserved_rate;
}

OSStatus CountPacketFrames(Demuxer& demuxer, UInt64* out_frames) {
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) {
    return kAudio_MemFullError;
  }
  int64_t total_duration = 0;  // In the stream's time base.
  int64_t skipped = 0;         // In samples.
  int64_t packets = 0;
  const bool is_mp3 = demuxer.stream->codecpar->codec_id == AV_CODEC_ID_MP3;
  while (av_read_frame(demuxer.format, packet) >= 0) {
    if (packet->stream_index == demuxer.stream_index && !(is_mp3 && IsRefusedMp3Packet(packet))) {
      ++packets;
      total_duration += packet->duration > 0 ? packet->duration : 0;
      skipped += SkippedSamples(packet);
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  if (packets == 0) {
    return kAudioFileInvalidFileError;
  }
  const int64_t frames =
      av_rescale_q(total_duration, demuxer.stream->time_base, SampleTimeBase(demuxer)) - skipped;
  *out_frames = frames > 0 ? static_cast<UInt64>(frames) : 0;
  return noErr;
}

}  // namespace

OSStatus CountFrames(Demuxer& demuxer, const ByteSource& source, UInt64* out_frames,
                     bool* out_consumed) {
  const AVCodecParameters& stream = *demuxer.stream->codecpar;
  // Demuxing every packet costs a millisecond or more a megabyte, and opening again after it;
  // the frame headers of a clean file tell the same in a fraction of that.
  if (stream.codec_id == AV_CODEC_ID_MP3 && WalkMp3Frames(source, stream.sample_rate, out_frames)) {
    *out_consumed = false;
    return noErr;
  }
  if (HeaderLengthIsExact(demuxer)) {
    *out_consumed = false;
    *out_frames = static_cast<UInt64>(
        av_rescale_q(demuxer.header_duration, demuxer.stream->time_base, SampleTimeBase(demuxer)));
    return noErr;
  }
  *out_consumed = true;
  return CountPacketFrames(demuxer, out_frames);
}

}  // namespace ffmpeg_platform
