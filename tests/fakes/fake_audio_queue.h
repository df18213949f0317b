#pragma once

// Fake output queues. By default nothing plays by itself: the test plays the head buffer with
// PlayHeadBuffer, which hands it back to the refill routine synchronously on the test's thread.
// In threaded mode every queue plays on a thread of its own, as the real output does, so that
// ThreadSanitizer sees the engine's real thread crossings.

#include <chrono>
#include <cstdint>
#include <vector>

#include "audio/platform/audio_platform.h"

namespace fake_audio {

enum class QueueState {
  kIdle,      // Made, not started yet.
  kRunning,   // Started or resumed.
  kPaused,    // Halted by AudioQueuePause.
  kStopped,   // Stopped at once, or drained after a stop that let its buffers play out.
  kDisposed,  // Gone; its buffers are freed.
};

// From now until Reset, new queues play on their own thread, one buffer every `buffer_period`.
void EnableThreadedPlayback(std::chrono::microseconds buffer_period);

// A test's handle on one queue made since Reset; stays usable after the queue's dispose.
class FakeQueue {
 public:
  explicit FakeQueue(AudioQueueRef queue) : queue_(queue) {}

  AudioQueueRef handle() const { return queue_; }
  QueueState state() const;
  AudioStreamBasicDescription format() const;
  void* user_data() const;  // What the refill routine receives: the engine's Player.
  Float32 volume() const;
  // True once a stop that lets queued buffers play out was asked for.
  bool stop_pending() const;

  std::vector<UInt32> allocated_capacities() const;  // One entry per buffer allocated.
  int queued_count() const;
  int enqueue_count() const;  // Every enqueue since the queue was made.
  // Every sample played, in order: what a listener would have heard.
  std::vector<std::int16_t> played_samples() const;

  Float64 sample_time() const;
  // Moves the clock, as playing would; a misuse while paused, when a real clock stands still.
  void set_sample_time(Float64 frames);

  // Plays the head buffer: its frames go into the time and the played samples, then the refill
  // routine gets it back on this thread. False when the queue is not running or holds nothing.
  bool PlayHeadBuffer();
  // Plays buffers until none is queued or the queue stops; the count played.
  int PlayUntilDrained(int limit = 1000000);
  // Threaded mode: waits until the queue has stopped or been disposed; false on time-out.
  bool WaitUntilStopped(std::chrono::milliseconds timeout) const;

 private:
  AudioQueueRef queue_;
};

// How many queues were made since Reset, and the latest of them.
int QueueCount();
FakeQueue LastQueue();

}  // namespace fake_audio
