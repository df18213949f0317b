#pragma once

// FFmpeg's view of an audio file that lives behind the read and get-size callbacks.

#include "audio/platform/audio_platform.h"

struct AVIOContext;

namespace ffmpeg_platform {

// Where the bytes come from: position-based reads through the caller's callback.
struct ByteSource {
  void* client_data = nullptr;
  AudioFile_ReadProc read = nullptr;
  SInt64 size = 0;  // From the get-size callback, taken once at open.
};

// A seekable AVIOContext (AVSEEK_SIZE included) that reads only through `source`, which must
// outlive it. Null when FFmpeg cannot allocate one.
AVIOContext* OpenMemoryIo(const ByteSource* source);

// Frees what OpenMemoryIo made; null is ignored.
void CloseMemoryIo(AVIOContext* io);

}  // namespace ffmpeg_platform
