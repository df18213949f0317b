#include "audio/platform/mp3_frame_walk.h"

#include <cstring>
#include <optional>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace ffmpeg_platform {
namespace {

constexpr SInt64 kId3v2HeaderBytes = 10;
constexpr SInt64 kId3v1Bytes = 128;
constexpr UInt32 kFrameHeaderBytes = 4;

struct FrameHeader {
  int version_bits;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5.
  bool mono;
  int sample_rate;
  int samples;     // Per frame.
  int side_bytes;  // Side information after the header, where a Xing tag would start.
  SInt64 bytes;    // The whole frame.
};

std::optional<FrameHeader> ParseLayer3Header(const unsigned char* header) {
  static constexpr int kMpeg1KbitRates[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                              112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr int kMpeg2KbitRates[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                              64, 80, 96, 112, 128, 144, 160, 0};
  static constexpr int kMpeg1Rates[3] = {44100, 48000, 32000};
  const bool sync = header[0] == 0xFF && (header[1] & 0xE0) == 0xE0;
  const int version_bits = (header[1] >> 3) & 3;
  const bool layer3 = ((header[1] >> 1) & 3) == 1;
  const int rate_index = (header[2] >> 2) & 3;
  const int bit_rate_index = header[2] >> 4;
  // A free bit rate (index 0) gives no frame length.
  if (!sync || version_bits == 1 || !layer3 || rate_index == 3 || bit_rate_index == 0 ||
      bit_rate_index == 15) {
    return std::nullopt;
  }
  const bool mpeg1 = version_bits == 3;
  const int divisor = mpeg1 ? 1 : version_bits == 2 ? 2 : 4;
  FrameHeader frame{};
  frame.version_bits = version_bits;
  frame.mono = header[3] >> 6 == 3;
  frame.sample_rate = kMpeg1Rates[rate_index] / divisor;
  frame.samples = mpeg1 ? 1152 : 576;
  frame.side_bytes = mpeg1 ? (frame.mono ? 17 : 32) : (frame.mono ? 9 : 17);
  const int kbit_rate = (mpeg1 ? kMpeg1KbitRates : kMpeg2KbitRates)[bit_rate_index];
  const int padding = (header[2] >> 1) & 1;
  frame.bytes = SInt64{frame.samples / 8} * kbit_rate * 1000 / frame.sample_rate + padding;
  return frame;
}

// Stereo and joint stereo alternate from frame to frame; a change to or from mono is a second
// stream joined on.
bool SameStream(const FrameHeader& a, const FrameHeader& b) {
  return a.version_bits == b.version_bits && a.sample_rate == b.sample_rate && a.mono == b.mono;
}

bool ReadAt(const ByteSource& source, SInt64 position, UInt32 count, unsigned char* buffer) {
  UInt32 actual = 0;
  return position >= 0 && position + count <= source.size &&
         source.read(source.client_data, position, count, buffer, &actual) == noErr &&
         actual == count;
}

// Where the audio starts, past any ID3v2 tags.
SInt64 SkipId3v2Tags(const ByteSource& source) {
  SInt64 position = 0;
  unsigned char header[kId3v2HeaderBytes];
  while (ReadAt(source, position, sizeof header, header) && std::memcmp(header, "ID3", 3) == 0) {
    const SInt64 size = (SInt64{header[6] & 0x7F} << 21) | (SInt64{header[7] & 0x7F} << 14) |
                        (SInt64{header[8] & 0x7F} << 7) | SInt64{header[9] & 0x7F};
    const bool footer = (header[5] & 0x10) != 0;
    position += kId3v2HeaderBytes + size + (footer ? kId3v2HeaderBytes : 0);
  }
  return position;
}

struct LameTag {
  UInt64 frames;  // Audio frames after the tag's own.
  UInt64 delay_and_padding;
};

// The Xing or Info tag of the first frame with a LAME extension, as FFmpeg's demuxer reads it:
// the frame count, and the encoder's delay and padding.
std::optional<LameTag> ReadLameTag(const ByteSource& source, SInt64 frame_start,
                                   const FrameHeader& frame) {
  const SInt64 tag = frame_start + kFrameHeaderBytes + frame.side_bytes;
  // The name, the flags, and the frame count when its flag is set.
  unsigned char fields[12];
  if (!ReadAt(source, tag, sizeof fields, fields) ||
      (std::memcmp(fields, "Xing", 4) != 0 && std::memcmp(fields, "Info", 4) != 0)) {
    return std::nullopt;
  }
  const std::uint32_t flags = AV_RB32(fields + 4);
  if ((flags & 1) == 0) {
    return std::nullopt;  // No frame count: the padding is not taken off.
  }
  // The byte count, the seek table and the quality come between, each when its flag is set.
  const SInt64 extension =
      tag + 12 + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
  unsigned char lame[24];
  if (extension + SInt64{sizeof lame} > frame_start + frame.bytes ||
      !ReadAt(source, extension, sizeof lame, lame) ||
      (std::memcmp(lame, "LAME", 4) != 0 && std::memcmp(lame, "Lavf", 4) != 0 &&
       std::memcmp(lame, "Lavc", 4) != 0)) {
    return std::nullopt;
  }
  const UInt64 delay = (UInt64{lame[21]} << 4) | (lame[22] >> 4);
  const UInt64 padding = (UInt64{lame[22]} & 0x0F) << 8 | lame[23];
  return LameTag{AV_RB32(fields + 8), delay + padding};
}

// True when what follows the last frame is nothing or an ID3v1 tag.
bool EndsCleanly(const ByteSource& source, SInt64 position) {
  if (position == source.size) {
    return true;
  }
  unsigned char tag[3];
  return source.size - position == kId3v1Bytes && ReadAt(source, position, sizeof tag, tag) &&
         std::memcmp(tag, "TAG", 3) == 0;
}

}  // namespace

bool WalkMp3Frames(const ByteSource& source, int sample_rate, UInt64* out_frames) {
  if (source.read == nullptr) {
    return false;
  }
  SInt64 position = SkipId3v2Tags(source);
  unsigned char header[kFrameHeaderBytes];
  if (!ReadAt(source, position, sizeof header, header)) {
    return false;
  }
  const std::optional<FrameHeader> first = ParseLayer3Header(header);
  if (!first || first->sample_rate != sample_rate) {
    return false;
  }
  const std::optional<LameTag> lame = ReadLameTag(source, position, *first);
  if (!lame) {
    return false;
  }
  position += first->bytes;
  UInt64 frames = 0;
  while (ReadAt(source, position, sizeof header, header)) {
    const std::optional<FrameHeader> frame = ParseLayer3Header(header);
    if (!frame) {
      break;
    }
    // A frame cut off by the end, or a second stream's header frame: the demuxer knows better.
    unsigned char tag[4];
    if (!SameStream(*frame, *first) || position + frame->bytes > source.size ||
        !ReadAt(source, position + kFrameHeaderBytes + frame->side_bytes, sizeof tag, tag) ||
        std::memcmp(tag, "Xing", 4) == 0 || std::memcmp(tag, "Info", 4) == 0) {
      return false;
    }
    ++frames;
    position += frame->bytes;
  }
  const UInt64 samples = frames * static_cast<UInt64>(first->samples);
  if (frames != lame->frames || !EndsCleanly(source, position) ||
      samples < lame->delay_and_padding) {
    return false;
  }
  *out_frames = samples - lame->delay_and_padding;
  return true;
}

}  // namespace ffmpeg_platform
