#pragma once

// The audio-file handle behind AudioFileID: what the file operations found at open, and the
// demuxer that the decoder over the file reads from.

#include <map>
#include <memory>
#include <string>

#include "audio/platform/audio_platform.h"
#include "audio/platform/ffmpeg_demuxer.h"
#include "audio/platform/ffmpeg_memory_io.h"

struct OpaqueAudioFileID {
  ffmpeg_platform::ByteSource source;
  // Positioned at the start of the audio until a decoder takes it over; never moved, since the
  // demuxer's I/O points at `source`.
  std::unique_ptr<ffmpeg_platform::Demuxer> demuxer;
  std::map<std::string, std::string> info;  // The info dictionary's texts.
  AudioStreamBasicDescription format{};     // The file's own format, 1 frame per packet.
  UInt64 frame_count = 0;                   // Exact length in frames.
  bool has_decoder = false;                 // Set once ExtAudioFileWrapAudioFileID took it.
};
