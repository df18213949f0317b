#include <algorithm>
#include <cstring>

#include <SDL.h>

#include "audio/platform/sdl_audio_queue.h"

namespace sdl_platform {
namespace {

void CopyScaled(Uint8* destination, const unsigned char* source, UInt32 bytes, Float32 volume) {
  if (volume >= 1) {
    std::memcpy(destination, source, bytes);
    return;
  }
  // The queue's format is native-endian 16-bit PCM, so samples can be scaled in place.
  const UInt32 samples = bytes / sizeof(int16_t);
  for (UInt32 i = 0; i < samples; ++i) {
    int16_t sample;
    std::memcpy(&sample, source + i * sizeof sample, sizeof sample);
    sample = static_cast<int16_t>(static_cast<Float32>(sample) * volume);
    std::memcpy(destination + i * sizeof sample, &sample, sizeof sample);
  }
}

QueueBuffer* PopFront(OpaqueAudioQueue& queue) {
  QueueBuffer* front = queue.ring[queue.ring_head];
  queue.ring_head = (queue.ring_head + 1) % queue.ring.size();
  --queue.ring_count;
  queue.front_offset = 0;
  front->queued = false;
  return front;
}

// The output has played everything of a draining stop: the queue stops, and the device stops
// asking for data (SDL's lock is recursive, so pausing from its own thread is safe).
void FinishDrain(OpaqueAudioQueue& queue) {
  queue.draining = false;
  queue.state = QueueState::kStopped;
  SDL_PauseAudioDevice(queue.device, 1);
}

}  // namespace

void FillStream(void* user_data, Uint8* stream, int length) {
  auto& queue = *static_cast<OpaqueAudioQueue*>(user_data);
  const UInt32 bytes_per_frame = queue.format.mBytesPerFrame;
  auto wanted = static_cast<UInt32>(length);
  UInt32 filled = 0;
  while (filled < wanted && queue.state == QueueState::kRunning && queue.ring_count > 0) {
    QueueBuffer* front = queue.ring[queue.ring_head];
    const UInt32 remaining = front->buffer.mAudioDataByteSize - queue.front_offset;
    const UInt32 count = std::min(remaining, wanted - filled);
    CopyScaled(stream + filled, front->memory.get() + queue.front_offset, count, queue.volume);
    filled += count;
    queue.front_offset += count;
    queue.frames_played += count / bytes_per_frame;
    if (queue.front_offset == front->buffer.mAudioDataByteSize) {
      // Handed back at once, so that what the routine enqueues can follow in this same fill.
      PopFront(queue);
      queue.callback(queue.user_data, &queue, &front->buffer);
    }
  }
  if (queue.ring_count == 0 && queue.draining && queue.state == QueueState::kRunning) {
    FinishDrain(queue);
  }
  // 16-bit signed silence is all zero bytes.
  std::memset(stream + filled, 0, wanted - filled);
}

void DropQueuedBuffers(OpaqueAudioQueue& queue) {
  while (queue.ring_count > 0) {
    PopFront(queue);
  }
}

}  // namespace sdl_platform
