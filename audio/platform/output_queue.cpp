#include "audio/platform/output_queue.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>
#include <utility>

#include <pthread.h>
#include <signal.h>

#include "audio/platform/pcm_format.h"

namespace {

using output_queue::AudioOutput;
using output_queue::FrontHeard;
using output_queue::QueueBuffer;
using output_queue::QueueState;
using ReopenClock = std::chrono::steady_clock;

constexpr UInt32 kMaxChannels = 8;

// Between two tries to reopen an output that went away, doubling from the first to the last.
// While no server answers at all, a try is one refused connection, which costs nobody anything,
// so the pause stays short enough that a server that is back is found within a quarter second,
// leaving the rest of a second for the new stream to start on a busy machine. A server that
// answers but refuses or drops every stream is asked seldom.
constexpr auto kFirstReopenPause = std::chrono::milliseconds(100);
constexpr auto kLastReopenPauseWhileAway = std::chrono::milliseconds(250);
constexpr auto kLastReopenPause = std::chrono::seconds(4);
// An output that played this long after the try that opened it counts as a success: its loss
// is a new one, tried again at once. One lost sooner goes on with the pauses it had.
constexpr auto kSettledOutput = std::chrono::seconds(2);

// The queue's thread's account of its tries to reopen the output.
struct Reopening {
  ReopenClock::time_point last_try{};
  ReopenClock::duration pause = kFirstReopenPause;
  int tries = 0;
};

// After a try that failed: the first pause after the first try, then twice the last one, up to
// the ceiling for a server that is `away` or not.
void LengthenReopenPause(Reopening& reopening, bool away) {
  if (reopening.tries++ > 0) {
    reopening.pause = std::min<ReopenClock::duration>(
        reopening.pause * 2, away ? kLastReopenPauseWhileAway : kLastReopenPause);
  }
}

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

// Runs `call` on the queue's present output, which the queue's thread may be replacing.
template <typename Call>
auto CallOutput(OpaqueAudioQueue& queue, Call call) {
  std::lock_guard<std::mutex> lock(queue.output_mutex);
  return call(*queue.output);
}

// The next output plays on from what was last heard; what the lost one had been given beyond
// that is given again. Queue's lock held.
void RewindToHeard(OpaqueAudioQueue& queue) {
  const UInt64 heard = std::clamp(queue.clock_bytes, queue.heard_bytes, queue.written_bytes);
  queue.written_bytes = heard;
  queue.clock_bytes = heard;
  queue.origin_bytes = heard;
}

// The new output takes over, and plays if the queue does; the lost one closes outside the lock.
void InstallOutput(OpaqueAudioQueue& queue, std::unique_ptr<AudioOutput> output) {
  std::unique_ptr<AudioOutput> lost;
  std::lock_guard<std::mutex> calls(queue.output_mutex);
  lost = std::exchange(queue.output, std::move(output));
  bool running = false;
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    running = queue.state == QueueState::kRunning;
  }
  if (running) {
    queue.output->Start();
  }
}

// Opens outputs until one takes over from the lost one, or the queue is disposed. Runs on the
// queue's thread with the queue's lock held, which it lets go while an output opens.
void ReplaceLostOutput(OpaqueAudioQueue& queue, std::unique_lock<std::mutex>& lock,
                       Reopening& reopening) {
  while (!queue.buffer_heard.wait_until(lock, reopening.last_try + reopening.pause,
                                        [&queue] { return queue.disposing; })) {
    reopening.last_try = ReopenClock::now();
    queue.output_lost = false;
    RewindToHeard(queue);
    lock.unlock();
    std::unique_ptr<AudioOutput> output = output_queue::ReopenAudioOutput(queue);
    const bool reopened = output != nullptr;
    if (reopened) {
      InstallOutput(queue, std::move(output));
    }
    // Asked outside the queue's lock: the server's connection takes locks of its own.
    const bool away = output_queue::OutputServerIsAway();
    lock.lock();
    if (!reopened) {
      queue.output_lost = true;  // Still lost: try again after the pause.
    } else if (!queue.output_lost) {
      return;
    }
    LengthenReopenPause(reopening, away);
  }
}

// The queue's own thread: hands each buffer back to the refill routine once it has been heard,
// in playing order, with no lock held, so that decoding never holds up the output or the
// caller's thread; and replaces an output that went away.
void HandBackHeardBuffers(OpaqueAudioQueue* queue) {
  // Signals belong to the program's main thread.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  Reopening reopening;
  std::unique_lock<std::mutex> lock(queue->mutex);
  while (true) {
    queue->buffer_heard.wait(
        lock, [queue] { return queue->disposing || queue->output_lost || FrontHeard(*queue); });
    if (queue->disposing) {
      return;
    }
    if (queue->output_lost) {
      if (ReopenClock::now() - reopening.last_try >= kSettledOutput) {
        reopening = Reopening{};
      }
      ReplaceLostOutput(*queue, lock, reopening);
      continue;
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
  // The listener sets the volume on the server; the queue plays what it is given, as it is.
  if (queue == nullptr || parameter != kAudioQueueParam_Volume || value != 1) {
    return kAudio_ParamError;
  }
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
  CallOutput(*queue, [](AudioOutput& output) { output.Wake(); });
  return noErr;
}

OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* /*start_time*/) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->stopped_at_once) {
      return kAudioQueueErr_InvalidRunState;
    }
    queue->state = QueueState::kRunning;
  }
  return CallOutput(*queue, [](AudioOutput& output) { return output.Start(); });
}

OSStatus AudioQueuePause(AudioQueueRef queue) {
  if (queue == nullptr) {
    return kAudio_ParamError;
  }
  // The output lock is held until the paused state is set: an output that replaces a lost one
  // in between would otherwise be started, and play through the pause.
  std::lock_guard<std::mutex> calls(queue->output_mutex);
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
      queue->stopped_at_once = immediate;
    }
  }
  CallOutput(*queue, [immediate](AudioOutput& output) {
    if (immediate) {
      output.Flush();
    } else {
      output.Wake();  // The last buffer may be written already: the drain can begin.
    }
  });
  return noErr;
}

OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, AudioQueueTimelineRef /*timeline*/,
                                  AudioTimeStamp* out_time, Boolean* out_discontinuity) {
  if (queue == nullptr || out_time == nullptr) {
    return kAudio_ParamError;
  }
  // Under the output's lock, so that the output and its origin belong together.
  std::lock_guard<std::mutex> calls(queue->output_mutex);
  UInt64 written_frames = 0;
  UInt64 origin_frames = 0;
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->state == QueueState::kStopped) {
      return kAudioQueueErr_InvalidRunState;
    }
    written_frames = queue->written_bytes / queue->format.mBytesPerFrame;
    origin_frames = queue->origin_bytes / queue->format.mBytesPerFrame;
  }
  constexpr UInt32 kSampleTimeValid = 1;
  *out_time = AudioTimeStamp{};
  // Nothing is heard before it is written, whatever the output's clock says.
  out_time->mSampleTime =
      static_cast<Float64>(std::min(origin_frames + queue->output->HeardFrames(), written_frames));
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
