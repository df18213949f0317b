#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include "audio/platform/audio_platform.h"
#include "audio/platform/ffmpeg_audio_file.h"
#include "audio/platform/ffmpeg_pcm_converter.h"
#include "audio/platform/pcm_format.h"

namespace {

// Room reserved for one decoded frame when the client format is set, in sample frames: enough
// for MP3 (1152), AAC (1024), ALAC (4096) and the usual FLAC block sizes, so that reads on the
// audio thread do not allocate.
constexpr size_t kReservedFrames = 8192;

enum class DecodeResult { kFrame, kEnd, kError };

}  // namespace

// The decoder over one audio file. Used by one thread at a time: set up on the main thread,
// then read on the audio thread while a queue plays it.
struct OpaqueExtAudioFile {
  ~OpaqueExtAudioFile() {
    av_packet_free(&packet);
    av_frame_free(&frame);
  }

  AudioFileID file = nullptr;
  ffmpeg_platform::Demuxer* demuxer = nullptr;  // Owned by `file`.
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  bool has_client_format = false;
  AudioStreamBasicDescription client_format{};
  std::unique_ptr<ffmpeg_platform::PcmConverter> converter;
  // Frames decoded beyond what the last read asked for: interleaved 16-bit samples.
  std::vector<int16_t> pending;
  size_t pending_frames = 0;
  size_t pending_offset = 0;  // Frames of `pending` already delivered.
  // Frames still to deliver: the file's exact length less what was delivered, so that
  // padding the file declares (but the decoder keeps) is never played.
  UInt64 frames_left = 0;
  bool draining = false;  // The demuxer is at its end; the decoder gives what it holds.
  OSStatus failure = noErr;
};

namespace {

bool IsOutOfMemory(int error) { return error == AVERROR(ENOMEM); }

// Makes the first `converted` frames of `pending` the ones to deliver. A frame that cannot be
// converted (no resampler for its format) is lost like a damaged one; only running out of memory
// is an error.
DecodeResult KeepConverted(OpaqueExtAudioFile& decoder, int converted) {
  if (converted == AVERROR(ENOMEM)) {
    decoder.failure = kAudio_MemFullError;
    return DecodeResult::kError;
  }
  decoder.pending_frames = converted > 0 ? static_cast<size_t>(converted) : 0;
  decoder.pending_offset = 0;
  return DecodeResult::kFrame;
}

// Converts the decoded frame in `decoder.frame` into `pending`, in the client format whatever
// the frame's own rate and channel count: a file joined from recordings of different formats
// plays whole.
DecodeResult TakeDecodedFrame(OpaqueExtAudioFile& decoder) {
  if (decoder.frame->nb_samples <= 0) {
    return DecodeResult::kFrame;
  }
  return KeepConverted(decoder, decoder.converter->Convert(decoder.frame, decoder.pending));
}

// At the end of the data, the frames that the resampler still holds are the last ones.
DecodeResult TakeResamplerTail(OpaqueExtAudioFile& decoder) {
  const DecodeResult result = KeepConverted(decoder, decoder.converter->Flush(decoder.pending));
  return result == DecodeResult::kFrame && decoder.pending_frames == 0 ? DecodeResult::kEnd
                                                                       : result;
}

// Hands the next packet of the stream to the decoder, or the end-of-data flush. A damaged
// packet is skipped; false only when memory ran out.
bool FeedDecoder(OpaqueExtAudioFile& decoder) {
  const ffmpeg_platform::Demuxer& demuxer = *decoder.demuxer;
  const int read = av_read_frame(demuxer.format, decoder.packet);
  if (read < 0) {
    if (IsOutOfMemory(read)) {
      return false;
    }
    // From memory, any other demuxer failure is the end of what can be read.
    decoder.draining = true;
    avcodec_send_packet(demuxer.codec, nullptr);
    return true;
  }
  int sent = 0;
  if (decoder.packet->stream_index == demuxer.stream_index) {
    sent = avcodec_send_packet(demuxer.codec, decoder.packet);
  }
  av_packet_unref(decoder.packet);
  return !IsOutOfMemory(sent);
}

// Decodes until one frame is in `pending` or the data ends.
DecodeResult DecodeNextFrame(OpaqueExtAudioFile& decoder) {
  AVCodecContext* codec = decoder.demuxer->codec;
  decoder.pending_frames = 0;
  decoder.pending_offset = 0;
  for (;;) {
    const int received = avcodec_receive_frame(codec, decoder.frame);
    if (received == 0) {
      const DecodeResult result = TakeDecodedFrame(decoder);
      av_frame_unref(decoder.frame);
      if (result != DecodeResult::kFrame || decoder.pending_frames > 0) {
        return result;
      }
    } else if (received == AVERROR_EOF) {
      return TakeResamplerTail(decoder);
    } else if (received == AVERROR(EAGAIN)) {
      if (decoder.draining) {
        return TakeResamplerTail(decoder);
      }
      if (!FeedDecoder(decoder)) {
        decoder.failure = kAudio_MemFullError;
        return DecodeResult::kError;
      }
    } else if (IsOutOfMemory(received)) {
      decoder.failure = kAudio_MemFullError;
      return DecodeResult::kError;
    }
    // Any other error is a damaged packet: its frame is lost and decoding goes on.
  }
}

size_t TakePending(OpaqueExtAudioFile& decoder, char* out, size_t frames) {
  const size_t count = std::min(frames, decoder.pending_frames - decoder.pending_offset);
  const size_t channels = decoder.client_format.mChannelsPerFrame;
  std::memcpy(out, decoder.pending.data() + decoder.pending_offset * channels,
              count * channels * sizeof(int16_t));
  decoder.pending_offset += count;
  return count;
}

bool IsPlayableClientFormat(const AudioStreamBasicDescription& client,
                            const AudioStreamBasicDescription& file) {
  return audio_platform::IsInterleaved16BitPcm(client) && client.mFramesPerPacket == 1 &&
         client.mChannelsPerFrame == file.mChannelsPerFrame &&
         client.mBytesPerPacket == client.mBytesPerFrame && client.mSampleRate == file.mSampleRate;
}

OSStatus SetClientFormat(OpaqueExtAudioFile& decoder, const AudioStreamBasicDescription& client) {
  if (!IsPlayableClientFormat(client, decoder.file->format)) {
    return kAudio_ParamError;
  }
  try {
    decoder.converter = std::make_unique<ffmpeg_platform::PcmConverter>(
        static_cast<int>(client.mChannelsPerFrame), static_cast<int>(client.mSampleRate));
    decoder.pending.reserve(kReservedFrames * client.mChannelsPerFrame);
  } catch (const std::bad_alloc&) {
    return kAudio_MemFullError;
  }
  decoder.client_format = client;
  decoder.has_client_format = true;
  return noErr;
}

}  // namespace

OSStatus ExtAudioFileWrapAudioFileID(AudioFileID file, Boolean for_writing,
                                     ExtAudioFileRef* out_decoder) {
  if (file == nullptr || out_decoder == nullptr || for_writing) {
    return kAudio_ParamError;
  }
  *out_decoder = nullptr;
  // One decoder per open file: a second would read the same demuxer from where the first is.
  if (file->has_decoder || file->demuxer == nullptr) {
    return kAudio_ParamError;
  }
  std::unique_ptr<OpaqueExtAudioFile> decoder(new (std::nothrow) OpaqueExtAudioFile);
  if (decoder == nullptr) {
    return kAudio_MemFullError;
  }
  decoder->file = file;
  decoder->demuxer = file->demuxer.get();
  decoder->frames_left = file->frame_count;
  decoder->packet = av_packet_alloc();
  decoder->frame = av_frame_alloc();
  if (decoder->packet == nullptr || decoder->frame == nullptr) {
    return kAudio_MemFullError;
  }
  file->has_decoder = true;
  *out_decoder = decoder.release();
  return noErr;
}

OSStatus ExtAudioFileGetProperty(ExtAudioFileRef decoder, ExtAudioFilePropertyID property,
                                 UInt32* io_size, void* out_data) {
  if (decoder == nullptr || io_size == nullptr || out_data == nullptr) {
    return kAudio_ParamError;
  }
  const AudioStreamBasicDescription* format = nullptr;
  if (property == kExtAudioFileProperty_FileDataFormat) {
    format = &decoder->file->format;
  } else if (property == kExtAudioFileProperty_ClientDataFormat && decoder->has_client_format) {
    format = &decoder->client_format;
  } else {
    return kAudioFileUnsupportedPropertyError;
  }
  if (*io_size < sizeof(AudioStreamBasicDescription)) {
    return kAudioFileBadPropertySizeError;
  }
  *io_size = sizeof(AudioStreamBasicDescription);
  std::memcpy(out_data, format, sizeof(AudioStreamBasicDescription));
  return noErr;
}

OSStatus ExtAudioFileSetProperty(ExtAudioFileRef decoder, ExtAudioFilePropertyID property,
                                 UInt32 size, const void* data) {
  if (decoder == nullptr || data == nullptr) {
    return kAudio_ParamError;
  }
  if (property != kExtAudioFileProperty_ClientDataFormat) {
    return kAudioFileUnsupportedPropertyError;
  }
  if (size != sizeof(AudioStreamBasicDescription)) {
    return kAudioFileBadPropertySizeError;
  }
  AudioStreamBasicDescription client;
  std::memcpy(&client, data, sizeof client);
  return SetClientFormat(*decoder, client);
}

OSStatus ExtAudioFileRead(ExtAudioFileRef decoder, UInt32* io_frames, AudioBufferList* io_data) {
  if (decoder == nullptr || io_frames == nullptr || io_data == nullptr ||
      io_data->mNumberBuffers < 1 || io_data->mBuffers[0].mData == nullptr) {
    return kAudio_ParamError;
  }
  if (!decoder->has_client_format) {
    *io_frames = 0;
    return kAudio_ParamError;
  }
  AudioBuffer& buffer = io_data->mBuffers[0];
  const UInt32 bytes_per_frame = decoder->client_format.mBytesPerFrame;
  const size_t wanted =
      std::min<UInt64>({*io_frames, buffer.mDataByteSize / bytes_per_frame, decoder->frames_left});
  auto* out = static_cast<char*>(buffer.mData);
  size_t delivered = 0;
  while (delivered < wanted && decoder->failure == noErr) {
    if (decoder->pending_offset < decoder->pending_frames) {
      delivered += TakePending(*decoder, out + delivered * bytes_per_frame, wanted - delivered);
      continue;
    }
    if (DecodeNextFrame(*decoder) != DecodeResult::kFrame) {
      break;
    }
  }
  if (decoder->failure != noErr) {
    *io_frames = 0;
    return decoder->failure;
  }
  if (delivered < wanted) {
    decoder->frames_left = 0;  // The data ended early: nothing more will come.
  } else {
    decoder->frames_left -= delivered;
  }
  *io_frames = static_cast<UInt32>(delivered);
  buffer.mDataByteSize = static_cast<UInt32>(delivered * bytes_per_frame);
  return noErr;
}

OSStatus ExtAudioFileDispose(ExtAudioFileRef decoder) {
  if (decoder == nullptr) {
    return kAudio_ParamError;
  }
  delete decoder;
  return noErr;
}
