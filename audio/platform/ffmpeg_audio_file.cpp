#include "audio/platform/ffmpeg_audio_file.h"

#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "audio/platform/cf_objects.h"
#include "audio/platform/ffmpeg_length.h"
#include "audio/platform/ffmpeg_tags.h"

namespace {

using ffmpeg_platform::Demuxer;

AudioFormatID FormatIdOf(AVCodecID codec) {
  switch (codec) {
    case AV_CODEC_ID_MP3:
      return FourCharCode(".mp3");
    case AV_CODEC_ID_AAC:
      return FourCharCode("aac ");
    case AV_CODEC_ID_ALAC:
      return FourCharCode("alac");
    case AV_CODEC_ID_FLAC:
      return FourCharCode("flac");
    default:
      return kAudioFormatLinearPCM;
  }
}

// The file's own format, counted in frames: one frame per packet, so that the packet count is
// the length in frames.
AudioStreamBasicDescription DescribeFileFormat(const Demuxer& demuxer) {
  const AVCodecParameters* parameters = demuxer.stream->codecpar;
  AudioStreamBasicDescription format{};
  format.mSampleRate = parameters->sample_rate;
  format.mFormatID = FormatIdOf(parameters->codec_id);
  format.mFramesPerPacket = 1;
  format.mChannelsPerFrame = static_cast<UInt32>(parameters->ch_layout.nb_channels);
  format.mBitsPerChannel = static_cast<UInt32>(parameters->bits_per_raw_sample);
  if (format.mFormatID == kAudioFormatLinearPCM) {
    format.mBitsPerChannel = static_cast<UInt32>(av_get_bits_per_sample(parameters->codec_id));
    format.mBytesPerFrame = format.mBitsPerChannel / 8 * format.mChannelsPerFrame;
    format.mBytesPerPacket = format.mBytesPerFrame;
  }
  return format;
}

OSStatus OpenFile(OpaqueAudioFileID& file) {
  OSStatus status = noErr;
  file.demuxer = ffmpeg_platform::OpenDemuxer(&file.source, &status);
  if (file.demuxer == nullptr) {
    return status;
  }
  file.info = ffmpeg_platform::ReadInfoTags(file.demuxer->format, file.demuxer->stream);
  file.format = DescribeFileFormat(*file.demuxer);
  bool consumed = false;
  status = ffmpeg_platform::CountFrames(*file.demuxer, file.source, &file.frame_count, &consumed);
  if (status != noErr) {
    return status;
  }
  if (consumed) {
    // The bytes are in memory: opening again is the surest way back to the very start, with
    // the demuxer's start-of-stream state (skip samples) as it was.
    file.demuxer = ffmpeg_platform::OpenDemuxer(&file.source, &status);
  }
  return status;
}

OSStatus CheckPropertySize(UInt32* io_size, UInt32 needed) {
  if (io_size == nullptr || *io_size < needed) {
    return kAudioFileBadPropertySizeError;
  }
  *io_size = needed;
  return noErr;
}

}  // namespace

OSStatus AudioFileOpenWithCallbacks(void* client_data, AudioFile_ReadProc read,
                                    AudioFile_WriteProc /*write*/, AudioFile_GetSizeProc get_size,
                                    AudioFile_SetSizeProc /*set_size*/,
                                    AudioFileTypeID /*type_hint*/, AudioFileID* out_file) {
  if (read == nullptr || get_size == nullptr || out_file == nullptr) {
    return kAudio_ParamError;
  }
  *out_file = nullptr;
  try {
    std::unique_ptr<OpaqueAudioFileID> file(new OpaqueAudioFileID);
    file->source = {client_data, read, get_size(client_data)};
    if (file->source.size <= 0) {
      return kAudioFileInvalidFileError;
    }
    const OSStatus status = OpenFile(*file);
    if (status != noErr) {
      return status;
    }
    *out_file = file.release();
    return noErr;
  } catch (const std::bad_alloc&) {
    return kAudio_MemFullError;
  }
}

OSStatus AudioFileGetProperty(AudioFileID file, AudioFilePropertyID property, UInt32* io_size,
                              void* out_data) {
  if (file == nullptr || out_data == nullptr) {
    return kAudio_ParamError;
  }
  if (property == kAudioFilePropertyInfoDictionary) {
    const OSStatus status = CheckPropertySize(io_size, sizeof(CFDictionaryRef));
    if (status != noErr) {
      return status;
    }
    try {
      *static_cast<CFDictionaryRef*>(out_data) = CreateInfoDictionary(file->info);
    } catch (const std::bad_alloc&) {
      return kAudio_MemFullError;
    }
    return noErr;
  }
  if (property == kAudioFilePropertyAudioDataPacketCount) {
    const OSStatus status = CheckPropertySize(io_size, sizeof(UInt64));
    if (status == noErr) {
      *static_cast<UInt64*>(out_data) = file->frame_count;
    }
    return status;
  }
  return kAudioFileUnsupportedPropertyError;
}

OSStatus AudioFileClose(AudioFileID file) {
  if (file == nullptr) {
    return kAudio_ParamError;
  }
  delete file;
  return noErr;
}
