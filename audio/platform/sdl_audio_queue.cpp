#include "audio/platform/sdl_audio_queue.h"

#include <new>

#include <SDL.h>

#include "audio/platform/sdl_audio_system.h"

namespace {

using sdl_platform::QueueBuffer;
using sdl_platform::QueueState;

// SDL's own buffer: at most 25 ms of audio (1024 frames at 44.1 or 48 kHz). It is the delay
// between a buffer leaving the queue and being heard, and SDL waits twice that for the device to
// drain when a queue is disposed, which the main thread feels at every change of track.
constexpr double kDeviceBufferSeconds = 0.025;

// The largest power of two of frames within the device buffer's length at `sample_rate`.
Uint16 DeviceFrames(double sample_rate) {
  Uint16 frames = 256;
  while (frames < 8192 && (frames * 2) <= sample_rate * kDeviceBufferSeconds) {
    frames = static_cast<Uint16>(frames * 2);
  }
  return frames;
}

constexpr UInt32 kMaxChannels = 8;

// Rates a file may declare that an output can really play. Outside them a device buffer lasts
// absurdly long (256 frames at 1 Hz is over four minutes) and closing the device, which waits
// for two of them, would freeze the program.
constexpr double kLowestSampleRate = 4000;
constexpr double kHighestSampleRate = 768000;

constexpr AudioFormatFlags kRefusedFlags = 1 | 2 | 32;  // Float, big-endian, non-interleaved.

bool IsPlayableFormat(const AudioStreamBasicDescription& format) {
  const AudioFormatFlags required = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
  return format.mFormatID == kAudioFormatLinearPCM &&
         (format.mFormatFlags & required) == required &&
         (format.mFormatFlags & kRefusedFlags) == 0 && format.mBitsPerChannel == 16 &&
         format.mChannelsPerFrame >= 1 && format.mChannelsPerFrame <= kMaxChannels &&
         format.mBytesPerFrame == 2 * format.mChannelsPerFrame &&
         format.mSampleRate >= kLowestSampleRate && format.mSampleRate <= kHighestSampleRate;
}

// Holds the device lock for a scope: the audio thread is then outside the fill routine.
class DeviceLock {
 public:
  explicit DeviceLock(SDL_AudioDeviceID device) : device_(device) { SDL_LockAudioDevice(device_); }
  ~DeviceLock() { SDL_UnlockAudioDevice(device_); }
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  SDL_AudioDeviceID device_;
};

QueueBuffer* FindBuffer(OpaqueAudioQueue& queue, AudioQueueBufferRef buffer) {
  for (const auto& owned : queue.buffers) {
    if (&owned->buffer == buffer) {
      return owned.get();
    }
  }
  return nullptr;
}

OSStatus OpenDevice(OpaqueAudioQueue& queue) {
  SDL_AudioSpec wanted{};
  wanted.freq = static_cast<int>(queue.format.mSampleRate);
  wanted.format = AUDIO_S16SYS;
  wanted.channels = static_cast<Uint8>(queue.format.mChannelsPerFrame);
  wanted.samples = DeviceFrames(queue.format.mSampleRate);
  wanted.callback = sdl_platform::FillStream;
  wanted.userdata = &queue;
  SDL_AudioSpec obtained{};
  // No allowed changes: SDL converts to whatever the hardware takes, and the fill routine always
  // sees the queue's own format. The device opens paused.
  queue.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  return queue.device == 0 ? kAudioQueueErr_InvalidDevice : noErr;
}

}  // namespace

OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                             AudioQueueOutputCallback callback, void* user_data,
                             CFRunLoopRef /*run_loop*/, CFStringRef /*run_loop_mode*/,
                             UInt32 /*flags*/, AudioQueueRef* out_queue) {
  if (format == nullptr || callback == nullptr || out_queue == nullptr) {
    return kAudio_ParamError;
  }
  *out_queue = nullptr;
  if (!IsPlayableFormat(*format)) {
    return kAudio_ParamError;
  }
  if (!sdl_platform::InitSdlAudioOnce()) {
    return kAudioQueueErr_InvalidDevice;
  }
  std::unique_ptr<OpaqueAudioQueue> queue(new (std::nothrow) OpaqueAudioQueue);
  if (queue == nullptr) {
    return kAudio_MemFullError;
  }
  queue->format = *format;
  queue->callback = callback;
  queue->user_data = user_data;
  const OSStatus status = OpenDevice(*queue);
  if (status == noErr) {
    *out_queue = queue.release();
  }
  return status;
}

OSStatus AudioQueueSetParameter(AudioQueueRef queue, AudioQueueParameterID parameter,
                                AudioQueueParameterValue value) {
  if (queue == nullptr || parameter != kAudioQueueParam_Volume || !(value >= 0 && value <= 1)) {
    return kAudio_ParamError;
  }
  DeviceLock lock(queue->device);
  queue->volume = value;
  return noErr;
}

OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, UInt32 capacity,
                                  AudioQueueBufferRef* out_buffer) {
  if (queue == nullptr || capacity == 0 || out_buffer == nullptr) {
    return kAudio_ParamError;
  }
  *out_buffer = nullptr;
  try {
    auto owned = std::make_unique<QueueBuffer>(capacity);
    DeviceLock lock(queue->device);
    // Grown in order, so the ring's entries keep their positions; the new slot is past them.
    std::vector<QueueBuffer*> ring(queue->buffers.size() + 1, nullptr);
    for (size_t i = 0; i < queue->ring_count; ++i) {
      ring[i] = queue->ring[(queue->ring_head + i) % queue->ring.size()];
    }
    queue->buffers.reserve(queue->buffers.size() + 1);
    queue->ring.swap(ring);
    queue->ring_head = 0;
    *out_buffer = &owned->buffer;
    queue->buffers.push_back(std::move(owned));
  } catch (const std::bad_alloc&) {
    return kAudio_MemFullError;
  }
  return noErr;
}

OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 UInt32 /*packet_count*/,
                                 const AudioStreamPacketDescription* /*packets*/) {
  if (queue == nullptr || buffer == nullptr) {
    return kAudio_ParamError;
  }
  DeviceLock lock(queue->device);
  QueueBuffer* owned = FindBuffer(*queue, buffer);
  const UInt32 size = buffer->mAudioDataByteSize;
  if (owned == nullptr || owned->queued || size == 0 || size > buffer->mAudioDataBytesCapacity ||
      size % queue->format.mBytesPerFrame != 0) {
    return kAudioQueueErr_InvalidBuffer;
  }
  owned->queued = true;
  queue->ring[(queue->ring_head + queue->ring_count) % queue->ring.size()] = owned;
  ++queue->ring_count;
  return noErr;
}

OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* /*start_time*/) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  {
    DeviceLock lock(queue->device);
    queue->state = QueueState::kRunning;
  }
  SDL_PauseAudioDevice(queue->device, 0);
  return noErr;
}

OSStatus AudioQueuePause(AudioQueueRef queue) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  {
    // Taking the lock waits for a fill in progress; every later fill sees the pause.
    DeviceLock lock(queue->device);
    if (queue->state == QueueState::kStopped) {
      return kAudioQueueErr_InvalidRunState;
    }
    queue->state = QueueState::kPaused;
  }
  SDL_PauseAudioDevice(queue->device, 1);
  return noErr;
}

OSStatus AudioQueueStop(AudioQueueRef queue, Boolean immediate) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  DeviceLock lock(queue->device);
  // Not immediate, before the start, too: a track that ended while its buffers were primed is
  // still started, and what it queued plays out then.
  if (!immediate && queue->ring_count > 0) {
    queue->draining = true;
    return noErr;
  }
  sdl_platform::DropQueuedBuffers(*queue);
  queue->draining = false;
  queue->state = QueueState::kStopped;
  SDL_PauseAudioDevice(queue->device, 1);
  return noErr;
}

OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, AudioQueueTimelineRef /*timeline*/,
                                  AudioTimeStamp* out_time, Boolean* out_discontinuity) {
  if (queue == nullptr || out_time == nullptr) {
    return kAudio_ParamError;
  }
  DeviceLock lock(queue->device);
  if (queue->state == QueueState::kStopped) {
    return kAudioQueueErr_InvalidRunState;
  }
  constexpr UInt32 kSampleTimeValid = 1;
  *out_time = AudioTimeStamp{};
  out_time->mSampleTime = static_cast<Float64>(queue->frames_played);
  out_time->mFlags = kSampleTimeValid;
  if (out_discontinuity != nullptr) {
    *out_discontinuity = false;
  }
  return noErr;
}

OSStatus AudioQueueDispose(AudioQueueRef queue, Boolean /*immediate*/) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  // Joins SDL's audio thread: no fill, and so no refill call, runs after this.
  SDL_CloseAudioDevice(queue->device);
  delete queue;
  return noErr;
}
