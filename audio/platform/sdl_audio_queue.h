#pragma once

// The output queue behind AudioQueueRef: one SDL audio device in the queue's format, fed from
// the queue's buffers in the order they were enqueued.

#include <memory>
#include <vector>

#include <SDL_audio.h>

#include "audio/platform/audio_platform.h"

namespace sdl_platform {

// A buffer the queue owns, with the memory behind it.
struct QueueBuffer {
  explicit QueueBuffer(UInt32 capacity)
      : memory(new unsigned char[capacity]), buffer{capacity, memory.get(), 0, nullptr} {}

  std::unique_ptr<unsigned char[]> memory;
  AudioQueueBuffer buffer;
  bool queued = false;  // Guarded by the device lock.
};

enum class QueueState { kStopped, kRunning, kPaused };

}  // namespace sdl_platform

struct OpaqueAudioQueue {
  // Set before the device opens; read-only after.
  AudioStreamBasicDescription format{};
  AudioQueueOutputCallback callback = nullptr;
  void* user_data = nullptr;
  SDL_AudioDeviceID device = 0;

  // Everything below is guarded by the device lock (SDL_LockAudioDevice), which SDL holds while
  // it runs the fill routine on its audio thread; the lock is recursive, so the refill routine
  // may enqueue or stop from inside.
  std::vector<std::unique_ptr<sdl_platform::QueueBuffer>> buffers;
  // Enqueued buffers in playing order: a ring of `ring_count` entries from `ring_head`, sized
  // to hold every buffer so that enqueueing never allocates.
  std::vector<sdl_platform::QueueBuffer*> ring;
  size_t ring_head = 0;
  size_t ring_count = 0;
  UInt32 front_offset = 0;  // Bytes of the front buffer already played.
  sdl_platform::QueueState state = sdl_platform::QueueState::kStopped;
  bool draining = false;     // A stop that lets the queued buffers play out is under way.
  UInt64 frames_played = 0;  // Written on the audio thread.
  Float32 volume = 1;
};

namespace sdl_platform {

// SDL's fill routine: copies queued audio into `stream`, hands every buffer that has played to
// the refill routine, and finishes a draining stop. Runs on SDL's audio thread, device lock held.
void FillStream(void* queue, Uint8* stream, int length);

// Takes every buffer out of the ring without playing it. Device lock held.
void DropQueuedBuffers(OpaqueAudioQueue& queue);

}  // namespace sdl_platform
