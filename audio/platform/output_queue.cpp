#include "audio/platform/output_queue.h"

#include <new>
#include <system_error>

#include <pthread.h>
#include <signal.h>

#include "audio/platform/pcm_format.h"

namespace {

using output_queue::FrontHeard;
using output_queue::QueueBuffer;
using output_queue::QueueState;

constexpr UInt32 kMaxChannels = 8;

// Rates a file may declare that an output can really play. Outside them a device buffer lasts
// absurdly long (256 frames at 1 Hz is over four minutes) and closing an SDL device, which
// waits for two of them, would freeze the program.
constexpr double kLowestSampleRate = 4000;
constexpr double kHighestSampleRate = 768000;

bool IsPlayableFormat(const AudioStreamBasicDescription& format) {
  return audio_platform::IsInterleaved16BitPcm(format) &&
         format.mChannelsPerFrame <= kMaxChannels && format.mSampleRate >= kLowestSampleRate &&
         format.mSampleRate <= kHighestSampleRate;
}

QueueBuffer* FindBuffer(OpaqueAudioQueue& queue, AudioQueueBufferRef buffer) {
  for (const auto& owned : queue.buffers) {
    if (&owned->buffer == buffer) {
      return owned.get();
    }
  }
  return nullptr;
}

QueueBuffer* PopFront(OpaqueAudioQueue& queue) {
  QueueBuffer* front = queue.ring[queue.ring_head];
  queue.ring_head = (queue.ring_head + 1) % queue.ring.size();
  --queue.ring_count;
  front->queued = false;
  return front;
}

// Takes every buffer out of the ring without playing it; the stream's counts skip past them.
void DropQueuedBuffers(OpaqueAudioQueue& queue) {
  while (queue.ring_count > 0) {
    PopFront(queue);
  }
  queue.written_bytes = queue.enqueued_bytes;
  queue.heard_bytes = queue.enqueued_bytes;
}

// The queue's own thread: hands each buffer back to the refill routine once it has been heard,
// in playing order, with no lock held, so that decoding never holds up the output or the
// caller's thread.
void HandBackHeardBuffers(OpaqueAudioQueue* queue) {
  // Signals belong to the program's main thread.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::unique_lock<std::mutex> lock(queue->mutex);
  while (true) {
    queue->buffer_heard.wait(lock, [queue] { return queue->disposing || FrontHeard(*queue); });
    if (queue->disposing) {
      return;
    }
    QueueBuffer* heard = PopFront(*queue);
    lock.unlock();
    queue->callback(queue->user_data, queue, &heard->buffer);
    lock.lock();
  }
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
  std::unique_ptr<OpaqueAudioQueue> queue(new (std::nothrow) OpaqueAudioQueue);
  if (queue == nullptr) {
    return kAudio_MemFullError;
  }
  queue->format = *format;
  queue->callback = callback;
  queue->user_data = user_data;
  queue->output = output_queue::OpenAudioOutput(*queue);
  if (queue->output == nullptr) {
    return kAudioQueueErr_InvalidDevice;
  }
  try {
    queue->refill_thread = std::thread(HandBackHeardBuffers, queue.get());
  } catch (const std::system_error&) {
    return kAudio_MemFullError;
  }
  *out_queue = queue.release();
  return noErr;
}

OSStatus AudioQueueSetParameter(AudioQueueRef queue, AudioQueueParameterID parameter,
                                AudioQueueParameterValue value) {
  if (queue == nullptr || parameter != kAudioQueueParam_Volume || !(value >= 0 && value <= 1)) {
    return kAudio_ParamError;
  }
  std::lock_guard<std::mutex> lock(queue->mutex);
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
    std::lock_guard<std::mutex> lock(queue->mutex);
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
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    QueueBuffer* owned = FindBuffer(*queue, buffer);
    const UInt32 size = buffer->mAudioDataByteSize;
    if (owned == nullptr || owned->queued || size == 0 || size > buffer->mAudioDataBytesCapacity ||
        size % queue->format.mBytesPerFrame != 0) {
      return kAudioQueueErr_InvalidBuffer;
    }
    owned->queued = true;
    queue->enqueued_bytes += size;
    owned->end = queue->enqueued_bytes;
    queue->ring[(queue->ring_head + queue->ring_count) % queue->ring.size()] = owned;
    ++queue->ring_count;
  }
  queue->output->Wake();
  return noErr;
}

OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* /*start_time*/) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->state = QueueState::kRunning;
  }
  return queue->output->Start();
}

OSStatus AudioQueuePause(AudioQueueRef queue) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->state == QueueState::kStopped) {
      return kAudioQueueErr_InvalidRunState;
    }
  }
  const OSStatus status = queue->output->Pause();
  if (status == noErr) {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->state = QueueState::kPaused;
  }
  return status;
}

OSStatus AudioQueueStop(AudioQueueRef queue, Boolean immediate) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    // Not immediate, before the start, too: a track that ended while its buffers were primed is
    // still started, and what it queued plays out then.
    if (!immediate && queue->ring_count > 0) {
      queue->draining = true;
    } else {
      DropQueuedBuffers(*queue);
      queue->draining = false;
      queue->state = QueueState::kStopped;
    }
  }
  if (immediate) {
    queue->output->Flush();
  } else {
    queue->output->Wake();  // The last buffer may be written already: the drain can begin.
  }
  return noErr;
}

OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, AudioQueueTimelineRef /*timeline*/,
                                  AudioTimeStamp* out_time, Boolean* out_discontinuity) {
  if (queue == nullptr || out_time == nullptr) {
    return kAudio_ParamError;
  }
  UInt64 written_frames = 0;
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->state == QueueState::kStopped) {
      return kAudioQueueErr_InvalidRunState;
    }
    written_frames = queue->written_bytes / queue->format.mBytesPerFrame;
  }
  constexpr UInt32 kSampleTimeValid = 1;
  *out_time = AudioTimeStamp{};
  // Nothing is heard before it is written, whatever the output's clock says.
  out_time->mSampleTime =
      static_cast<Float64>(std::min(queue->output->HeardFrames(), written_frames));
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
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->disposing = true;
    queue->state = QueueState::kStopped;
  }
  queue->buffer_heard.notify_all();
  // A refill under way finishes first; none starts after this.
  queue->refill_thread.join();
  queue->output.reset();
  delete queue;
  return noErr;
}
