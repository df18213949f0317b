// The fake's output queues: buffers, run states, time, and playback either driven by the test
// or on a thread of the queue's own.

#include "tests/fakes/fake_audio_queue.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "tests/fakes/fake_registry.h"

namespace {

// A queue-owned buffer and the memory it points at.
struct BufferSlot {
  explicit BufferSlot(UInt32 capacity)
      : memory(new unsigned char[capacity == 0 ? 1 : capacity]()),
        buffer{capacity, memory.get(), 0, nullptr} {}
  std::unique_ptr<unsigned char[]> memory;
  AudioQueueBuffer buffer;
};

}  // namespace

struct OpaqueAudioQueue {
  std::mutex mutex;
  std::condition_variable changed;
  AudioStreamBasicDescription format{};
  AudioQueueOutputCallback callback = nullptr;
  void* user_data = nullptr;
  Float32 volume = 0;
  fake_audio::QueueState state = fake_audio::QueueState::kIdle;
  bool stop_pending = false;
  std::vector<std::unique_ptr<BufferSlot>> buffers;
  std::vector<UInt32> capacities;
  std::deque<AudioQueueBufferRef> queued;
  int enqueue_count = 0;
  std::vector<std::int16_t> played;
  Float64 sample_time = 0;
  bool in_callback = false;  // The refill routine is running for this queue.
  bool quit = false;         // Tells the playback and refill threads to end.
  std::chrono::microseconds buffer_period{0};
  // Threaded mode: buffers are played on one thread and handed back on another, as a real
  // queue does, so that a refill that takes its time does not hold up what is heard.
  std::thread playback_thread;
  std::deque<AudioQueueBufferRef> heard;  // Played, not yet handed back.
  std::thread refill_thread;
};

namespace fake_audio {
namespace {

using internal::EnterCall;
using internal::RecordMisuse;
using Lock = std::unique_lock<std::mutex>;

struct QueueRegistry {
  std::mutex mutex;
  std::vector<std::unique_ptr<OpaqueAudioQueue>> queues;  // Kept until Reset, also disposed.
  bool threaded = false;
  std::chrono::microseconds buffer_period{0};
};

QueueRegistry& Registry() {
  static QueueRegistry registry;
  return registry;
}

bool OwnsBuffer(const OpaqueAudioQueue& queue, AudioQueueBufferRef buffer) {
  for (const auto& slot : queue.buffers) {
    if (&slot->buffer == buffer) {
      return true;
    }
  }
  return false;
}

bool IsQueued(const OpaqueAudioQueue& queue, AudioQueueBufferRef buffer) {
  for (AudioQueueBufferRef queued : queue.queued) {
    if (queued == buffer) {
      return true;
    }
  }
  return false;
}

// Takes the head buffer off and counts it as heard.
AudioQueueBufferRef PlayHeadLocked(OpaqueAudioQueue& queue) {
  AudioQueueBufferRef buffer = queue.queued.front();
  queue.queued.pop_front();
  const auto* samples = static_cast<const std::int16_t*>(buffer->mAudioData);
  queue.played.insert(queue.played.end(), samples,
                      samples + buffer->mAudioDataByteSize / sizeof(std::int16_t));
  if (queue.format.mBytesPerFrame != 0) {
    queue.sample_time += buffer->mAudioDataByteSize / queue.format.mBytesPerFrame;
  }
  return buffer;
}

// A stop that lets buffers play out takes effect once nothing is left to play.
void SettleLocked(OpaqueAudioQueue& queue) {
  if (queue.stop_pending && queue.queued.empty() && queue.state == QueueState::kRunning) {
    queue.state = QueueState::kStopped;
    queue.stop_pending = false;
  }
  queue.changed.notify_all();
}

// Hands `buffer` to the refill routine with the lock released, as the real output does.
void CallBack(OpaqueAudioQueue& queue, Lock& lock, AudioQueueBufferRef buffer) {
  queue.in_callback = true;
  lock.unlock();
  queue.callback(queue.user_data, &queue, buffer);
  lock.lock();
  queue.in_callback = false;
  SettleLocked(queue);
}

// Waits out a refill call in progress, unless the caller is that call.
void WaitForCallback(OpaqueAudioQueue& queue, Lock& lock) {
  if (queue.refill_thread.get_id() == std::this_thread::get_id()) {
    return;
  }
  queue.changed.wait(lock, [&] { return !queue.in_callback; });
}

bool CanPlay(const OpaqueAudioQueue& queue) {
  return queue.state == QueueState::kRunning && !queue.queued.empty();
}

// The threaded mode's output: one buffer per period while running.
void PlaybackLoop(OpaqueAudioQueue* queue) {
  Lock lock(queue->mutex);
  while (true) {
    queue->changed.wait(lock, [&] { return queue->quit || CanPlay(*queue); });
    if (queue->quit) {
      return;
    }
    lock.unlock();
    std::this_thread::sleep_for(queue->buffer_period);
    lock.lock();
    if (!queue->quit && CanPlay(*queue)) {
      queue->heard.push_back(PlayHeadLocked(*queue));
      queue->changed.notify_all();
    }
  }
}

// The threaded mode's refill thread: hands back each played buffer, in order.
void RefillLoop(OpaqueAudioQueue* queue) {
  Lock lock(queue->mutex);
  while (true) {
    queue->changed.wait(lock, [&] { return queue->quit || !queue->heard.empty(); });
    if (queue->quit) {
      return;
    }
    AudioQueueBufferRef buffer = queue->heard.front();
    queue->heard.pop_front();
    CallBack(*queue, lock, buffer);
  }
}

// Logs a misuse when `queue` was disposed; true when it is still usable.
bool IsUsable(OpaqueAudioQueue& queue, const char* operation) {
  if (queue.state == QueueState::kDisposed) {
    RecordMisuse(std::string(operation) + " on a disposed queue");
    return false;
  }
  return true;
}

void DisposeLocked(OpaqueAudioQueue& queue, Lock& lock) {
  queue.quit = true;
  queue.changed.notify_all();
  if (queue.refill_thread.get_id() == std::this_thread::get_id()) {
    RecordMisuse("AudioQueueDispose from inside the refill routine");
    queue.refill_thread.detach();
  } else {
    queue.changed.wait(lock, [&] { return !queue.in_callback; });
  }
  queue.state = QueueState::kDisposed;
  queue.queued.clear();
  queue.buffers.clear();
  queue.changed.notify_all();
  queue.heard.clear();
  lock.unlock();
  for (std::thread* thread : {&queue.playback_thread, &queue.refill_thread}) {
    if (thread->joinable()) {
      thread->join();
    }
  }
  lock.lock();
}

std::string NumberText(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

namespace internal {

void ResetQueues() {
  QueueRegistry& registry = Registry();
  std::lock_guard registry_lock(registry.mutex);
  for (auto& queue : registry.queues) {
    Lock lock(queue->mutex);
    if (queue->state != QueueState::kDisposed) {
      DisposeLocked(*queue, lock);
    }
  }
  registry.queues.clear();
  registry.threaded = false;
}

}  // namespace internal

void EnableThreadedPlayback(std::chrono::microseconds buffer_period) {
  std::lock_guard lock(Registry().mutex);
  Registry().threaded = true;
  Registry().buffer_period = buffer_period;
}

int QueueCount() {
  std::lock_guard lock(Registry().mutex);
  return static_cast<int>(Registry().queues.size());
}

FakeQueue LastQueue() {
  std::lock_guard lock(Registry().mutex);
  return FakeQueue(Registry().queues.empty() ? nullptr : Registry().queues.back().get());
}

int LiveQueueCount() {
  std::lock_guard registry_lock(Registry().mutex);
  int count = 0;
  for (auto& queue : Registry().queues) {
    std::lock_guard lock(queue->mutex);
    count += queue->state != QueueState::kDisposed ? 1 : 0;
  }
  return count;
}

QueueState FakeQueue::state() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->state;
}

AudioStreamBasicDescription FakeQueue::format() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->format;
}

void* FakeQueue::user_data() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->user_data;
}

Float32 FakeQueue::volume() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->volume;
}

bool FakeQueue::stop_pending() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->stop_pending;
}

std::vector<UInt32> FakeQueue::allocated_capacities() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->capacities;
}

int FakeQueue::queued_count() const {
  std::lock_guard lock(queue_->mutex);
  return static_cast<int>(queue_->queued.size());
}

int FakeQueue::enqueue_count() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->enqueue_count;
}

std::vector<std::int16_t> FakeQueue::played_samples() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->played;
}

Float64 FakeQueue::sample_time() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->sample_time;
}

void FakeQueue::set_sample_time(Float64 frames) {
  std::lock_guard lock(queue_->mutex);
  // As a real queue's, the clock stands still while paused.
  if (queue_->state == QueueState::kPaused) {
    RecordMisuse("the clock was moved while the queue was paused");
    return;
  }
  queue_->sample_time = frames;
}

bool FakeQueue::PlayHeadBuffer() {
  Lock lock(queue_->mutex);
  if (!CanPlay(*queue_)) {
    return false;
  }
  CallBack(*queue_, lock, PlayHeadLocked(*queue_));
  return true;
}

int FakeQueue::PlayUntilDrained(int limit) {
  int played = 0;
  while (played < limit && PlayHeadBuffer()) {
    ++played;
  }
  return played;
}

bool FakeQueue::WaitUntilStopped(std::chrono::milliseconds timeout) const {
  Lock lock(queue_->mutex);
  return queue_->changed.wait_for(lock, timeout, [&] {
    return queue_->state == QueueState::kStopped || queue_->state == QueueState::kDisposed;
  });
}

}  // namespace fake_audio

using fake_audio::QueueState;
using fake_audio::internal::EnterCall;
using fake_audio::internal::RecordMisuse;

OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                             AudioQueueOutputCallback callback, void* user_data,
                             CFRunLoopRef run_loop, CFStringRef run_loop_mode, UInt32 flags,
                             AudioQueueRef* out_queue) {
  if (OSStatus status = EnterCall(fake_audio::Op::kAudioQueueNewOutput); status != noErr) {
    return status;
  }
  if (format == nullptr || callback == nullptr || run_loop != nullptr || run_loop_mode != nullptr ||
      flags != 0 || out_queue == nullptr) {
    RecordMisuse("AudioQueueNewOutput needs a format and a callback, no run loop, flags 0");
    return kAudio_ParamError;
  }
  auto& registry = fake_audio::Registry();
  std::lock_guard lock(registry.mutex);
  auto queue = std::make_unique<OpaqueAudioQueue>();
  queue->format = *format;
  queue->callback = callback;
  queue->user_data = user_data;
  if (registry.threaded) {
    queue->buffer_period = registry.buffer_period;
    queue->playback_thread = std::thread(fake_audio::PlaybackLoop, queue.get());
    queue->refill_thread = std::thread(fake_audio::RefillLoop, queue.get());
  }
  *out_queue = queue.get();
  registry.queues.push_back(std::move(queue));
  return noErr;
}

OSStatus AudioQueueSetParameter(AudioQueueRef queue, AudioQueueParameterID parameter,
                                AudioQueueParameterValue value) {
  std::string name = parameter == kAudioQueueParam_Volume ? "volume=" : "parameter=";
  if (OSStatus status =
          EnterCall(fake_audio::Op::kAudioQueueSetParameter, name + fake_audio::NumberText(value));
      status != noErr) {
    return status;
  }
  std::lock_guard lock(queue->mutex);
  if (!fake_audio::IsUsable(*queue, "AudioQueueSetParameter")) {
    return kAudio_ParamError;
  }
  if (parameter == kAudioQueueParam_Volume) {
    queue->volume = value;
  }
  return noErr;
}

OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, UInt32 capacity,
                                  AudioQueueBufferRef* out_buffer) {
  if (OSStatus status =
          EnterCall(fake_audio::Op::kAudioQueueAllocateBuffer, std::to_string(capacity));
      status != noErr) {
    return status;
  }
  std::lock_guard lock(queue->mutex);
  if (!fake_audio::IsUsable(*queue, "AudioQueueAllocateBuffer")) {
    return kAudio_ParamError;
  }
  queue->buffers.push_back(std::make_unique<BufferSlot>(capacity));
  queue->capacities.push_back(capacity);
  *out_buffer = &queue->buffers.back()->buffer;
  return noErr;
}

// May run on the queue's thread, from the refill routine.
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 UInt32 packet_count, const AudioStreamPacketDescription* packets) {
  if (OSStatus status = EnterCall(fake_audio::Op::kAudioQueueEnqueueBuffer); status != noErr) {
    return status;
  }
  std::lock_guard lock(queue->mutex);
  if (!fake_audio::IsUsable(*queue, "AudioQueueEnqueueBuffer")) {
    return kAudio_ParamError;
  }
  if (!fake_audio::OwnsBuffer(*queue, buffer) || fake_audio::IsQueued(*queue, buffer) ||
      buffer->mAudioDataByteSize > buffer->mAudioDataBytesCapacity || packet_count != 0 ||
      packets != nullptr) {
    RecordMisuse("AudioQueueEnqueueBuffer with a foreign, queued, overfull or packet buffer");
    return kAudioQueueErr_InvalidBuffer;
  }
  if (queue->stop_pending || queue->state == QueueState::kStopped) {
    RecordMisuse("AudioQueueEnqueueBuffer after the queue was stopped");
  }
  queue->queued.push_back(buffer);
  ++queue->enqueue_count;
  queue->changed.notify_all();
  return noErr;
}

OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* start_time) {
  std::string arguments =
      start_time == nullptr ? "" : "at=" + fake_audio::NumberText(start_time->mSampleTime);
  if (OSStatus status = EnterCall(fake_audio::Op::kAudioQueueStart, arguments); status != noErr) {
    return status;
  }
  std::lock_guard lock(queue->mutex);
  if (!fake_audio::IsUsable(*queue, "AudioQueueStart")) {
    return kAudio_ParamError;
  }
  queue->state = QueueState::kRunning;
  fake_audio::SettleLocked(*queue);
  return noErr;
}

OSStatus AudioQueuePause(AudioQueueRef queue) {
  if (OSStatus status = EnterCall(fake_audio::Op::kAudioQueuePause); status != noErr) {
    return status;
  }
  fake_audio::Lock lock(queue->mutex);
  if (!fake_audio::IsUsable(*queue, "AudioQueuePause")) {
    return kAudio_ParamError;
  }
  // Returns once output has halted: no refill call runs while paused.
  fake_audio::WaitForCallback(*queue, lock);
  if (queue->state != QueueState::kRunning && queue->state != QueueState::kPaused) {
    return kAudioQueueErr_InvalidRunState;
  }
  queue->state = QueueState::kPaused;
  return noErr;
}

OSStatus AudioQueueStop(AudioQueueRef queue, Boolean immediate) {
  if (OSStatus status =
          EnterCall(fake_audio::Op::kAudioQueueStop, immediate ? "immediate" : "deferred");
      status != noErr) {
    return status;
  }
  fake_audio::Lock lock(queue->mutex);
  if (!fake_audio::IsUsable(*queue, "AudioQueueStop")) {
    return kAudio_ParamError;
  }
  if (!immediate) {
    queue->stop_pending = true;
    fake_audio::SettleLocked(*queue);
    return noErr;
  }
  fake_audio::WaitForCallback(*queue, lock);
  queue->queued.clear();
  queue->stop_pending = false;
  queue->state = QueueState::kStopped;
  queue->changed.notify_all();
  return noErr;
}

OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, AudioQueueTimelineRef timeline,
                                  AudioTimeStamp* out_time, Boolean* out_discontinuity) {
  if (OSStatus status = EnterCall(fake_audio::Op::kAudioQueueGetCurrentTime); status != noErr) {
    return status;
  }
  std::lock_guard lock(queue->mutex);
  if (!fake_audio::IsUsable(*queue, "AudioQueueGetCurrentTime")) {
    return kAudio_ParamError;
  }
  if (timeline != nullptr || out_discontinuity != nullptr || out_time == nullptr) {
    RecordMisuse("AudioQueueGetCurrentTime with a timeline or a discontinuity flag");
    return kAudio_ParamError;
  }
  if (queue->state != QueueState::kRunning && queue->state != QueueState::kPaused) {
    return kAudioQueueErr_InvalidRunState;
  }
  *out_time = AudioTimeStamp{};
  out_time->mSampleTime = queue->sample_time;
  out_time->mFlags = 1;
  return noErr;
}

OSStatus AudioQueueDispose(AudioQueueRef queue, Boolean immediate) {
  if (OSStatus status =
          EnterCall(fake_audio::Op::kAudioQueueDispose, immediate ? "immediate" : "deferred");
      status != noErr) {
    return status;
  }
  fake_audio::Lock lock(queue->mutex);
  if (!fake_audio::IsUsable(*queue, "AudioQueueDispose")) {
    return kAudio_ParamError;
  }
  fake_audio::DisposeLocked(*queue, lock);
  return noErr;
}
