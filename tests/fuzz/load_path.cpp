#include "tests/fuzz/load_path.h"

#include <array>
#include <vector>

#include "audio/track.h"

namespace fuzz {
namespace {

// Read sizes in frames, taken in turn: single frames, sizes that straddle the decoders' frames
// (MP3 1152, AAC 1024, ALAC 4096) and the Player's own buffer of 2^15 frames.
constexpr std::array<UInt32, 5> kReadFrames = {32768, 1, 1153, 4095, 17};

// Checks that the client format is the one the Player relies on.
std::string CheckClientFormat(const AudioTrack& track) {
  const AudioStreamBasicDescription& format = track.client_format;
  if (format.mChannelsPerFrame == 0 || format.mBytesPerFrame != 2 * format.mChannelsPerFrame) {
    return "client format without channels or with a wrong frame size";
  }
  if (!(format.mSampleRate > 0)) {
    return "client format without a sample rate";
  }
  if (!(track.duration >= 0)) {
    return "negative or undefined duration";
  }
  return {};
}

// The file's length in frames: its packet count times the frames in a packet.
bool ReadDeclaredFrames(const AudioTrack& track, UInt64* out_frames) {
  UInt64 packets = 0;
  UInt32 size = sizeof(packets);
  if (AudioFileGetProperty(track.audio_file, kAudioFilePropertyAudioDataPacketCount, &size,
                           &packets) != noErr) {
    return false;
  }
  AudioStreamBasicDescription file_format{};
  size = sizeof(file_format);
  if (ExtAudioFileGetProperty(track.decoder, kExtAudioFileProperty_FileDataFormat, &size,
                              &file_format) != noErr) {
    return false;
  }
  *out_frames = packets * file_format.mFramesPerPacket;
  return true;
}

void DecodeEverything(const AudioTrack& track, LoadPathResult& result) {
  const UInt32 bytes_per_frame = track.client_format.mBytesPerFrame;
  std::vector<unsigned char> memory(static_cast<size_t>(kReadFrames[0]) * bytes_per_frame);
  for (;;) {
    const UInt32 requested = kReadFrames[result.reads % kReadFrames.size()];
    AudioBufferList list{};
    list.mNumberBuffers = 1;
    list.mBuffers[0] = {track.client_format.mChannelsPerFrame, requested * bytes_per_frame,
                        memory.data()};
    UInt32 frames = requested;
    result.read_status = ExtAudioFileRead(track.decoder, &frames, &list);
    ++result.reads;
    if (result.read_status != noErr) {
      // Damage is skipped; only running out of memory (a refused allocation) may end a read.
      if (result.read_status != kAudio_MemFullError) {
        result.broken_promise = "a read failed for another reason than memory";
      }
      return;
    }
    if (frames == 0) {
      return;
    }
    if (frames > requested || list.mBuffers[0].mDataByteSize != frames * bytes_per_frame) {
      result.broken_promise = "a read delivered more than it was asked for";
      return;
    }
    result.decoded_frames += frames;
    if (result.decoded_frames > result.declared_frames) {
      result.broken_promise = "more frames decoded than the file declared";
      return;
    }
  }
}

}  // namespace

LoadPathResult RunLoadPath(const char* path) {
  LoadPathResult result;
  AudioTrack track;
  if (LoadTrack(&track, path) != 0) {
    if (track.data != nullptr || track.decoder != nullptr || track.audio_file != nullptr) {
      result.broken_promise = "a failed load left handles behind";
    }
    return result;
  }
  result.loaded = true;
  result.broken_promise = CheckClientFormat(track);
  if (result.broken_promise.empty() && !ReadDeclaredFrames(track, &result.declared_frames)) {
    result.broken_promise = "a loaded file without a packet count or a file format";
  }
  if (result.broken_promise.empty()) {
    DecodeEverything(track, result);
  }
  CloseTrack(&track);
  return result;
}

}  // namespace fuzz
