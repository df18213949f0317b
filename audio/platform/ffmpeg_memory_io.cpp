#include "audio/platform/ffmpeg_memory_io.h"

#include <algorithm>
#include <cstdio>
#include <new>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace ffmpeg_platform {
namespace {

// FFmpeg refills its buffer in steps of this size; the bytes are in memory, so a larger step
// only costs a copy.
constexpr int kIoBufferSize = 64 * 1024;

// The AVIOContext's opaque: the source and FFmpeg's read position in it.
struct MemoryIo {
  const ByteSource* source;
  SInt64 position = 0;
};

int ReadPacket(void* opaque, uint8_t* buffer, int buffer_size) {
  auto* io = static_cast<MemoryIo*>(opaque);
  const ByteSource& source = *io->source;
  if (io->position >= source.size || buffer_size <= 0) {
    return AVERROR_EOF;
  }
  const auto wanted =
      static_cast<UInt32>(std::min<SInt64>(buffer_size, source.size - io->position));
  UInt32 actual = 0;
  if (source.read(source.client_data, io->position, wanted, buffer, &actual) != noErr) {
    return AVERROR(EIO);
  }
  // A callback that claims more than it was asked for is not trusted past the request.
  actual = std::min(actual, wanted);
  if (actual == 0) {
    return AVERROR_EOF;
  }
  io->position += actual;
  return static_cast<int>(actual);
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
  auto* io = static_cast<MemoryIo*>(opaque);
  const SInt64 size = io->source->size;
  SInt64 target = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return size;
    case SEEK_SET:
      target = offset;
      break;
    case SEEK_CUR:
      target = io->position + offset;
      break;
    case SEEK_END:
      target = size + offset;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (target < 0) {
    return AVERROR(EINVAL);
  }
  // Past the end is allowed, as with a file: the next read reports the end.
  io->position = target;
  return target;
}

}  // namespace

AVIOContext* OpenMemoryIo(const ByteSource* source) {
  auto* io = new (std::nothrow) MemoryIo{source};
  if (io == nullptr) {
    return nullptr;
  }
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  AVIOContext* context = nullptr;
  if (buffer != nullptr) {
    context = avio_alloc_context(buffer, kIoBufferSize, 0, io, ReadPacket, nullptr, Seek);
  }
  if (context == nullptr) {
    av_free(buffer);
    delete io;
    return nullptr;
  }
  context->seekable = AVIO_SEEKABLE_NORMAL;
  return context;
}

void CloseMemoryIo(AVIOContext* io) {
  if (io == nullptr) {
    return;
  }
  delete static_cast<MemoryIo*>(io->opaque);
  // FFmpeg may have swapped the buffer for one of its own; free whichever it holds now.
  av_freep(&io->buffer);
  avio_context_free(&io);
}

}  // namespace ffmpeg_platform
