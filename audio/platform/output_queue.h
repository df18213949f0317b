#pragma once

// The output queue behind AudioQueueRef, whatever plays it: the buffers the queue owns, the
// order they were enqueued in, and the queue's own thread, which hands buffers that have been
// heard back to the refill routine. The device side (a sound-server stream, or an SDL device)
// only copies PCM that is ready and says how much of it has been heard.
//
// Locks: `mutex` guards the queue's state below. The device side takes it from its own thread
// (inside its own lock, if it has one), only to copy PCM; the queue's thread and the caller's
// thread take it briefly and never while they call into the device side or the refill routine.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/platform/audio_platform.h"

namespace output_queue {

// A buffer the queue owns, with the memory behind it.
struct QueueBuffer {
  explicit QueueBuffer(UInt32 capacity)
      : memory(new unsigned char[capacity]), buffer{capacity, memory.get(), 0, nullptr} {}

  std::unique_ptr<unsigned char[]> memory;
  AudioQueueBuffer buffer;
  bool queued = false;
  UInt64 end = 0;  // While queued: the stream's byte count once this buffer has been played.
};

enum class QueueState { kStopped, kRunning, kPaused };

// The device side of a queue: what the sound server or SDL device does for it. Every call but
// the destructor may fail; a failure is the operation's status.
class AudioOutput {
 public:
  AudioOutput() = default;
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;
  // Closes the output: once it returns, the device side no longer calls into the queue.
  virtual ~AudioOutput() = default;

  // Starts, or resumes what was held at the pause.
  virtual OSStatus Start() = 0;
  // Holds the output where it is: what it has not played yet stays for the resume.
  virtual OSStatus Pause() = 0;
  // Drops what the output holds and has not played yet.
  virtual void Flush() = 0;
  // PCM was enqueued, or a drain was asked for: the output takes what it can now rather than
  // at its next request. Called with no lock held.
  virtual void Wake() = 0;
  // Frames heard so far, the output's latency taken off.
  virtual UInt64 HeardFrames() = 0;
};

// Opens the output that plays `queue`: the sound server's, or SDL's. Null when none opens.
std::unique_ptr<AudioOutput> OpenAudioOutput(OpaqueAudioQueue& queue);

// A new output on the sound server for a queue whose output went away; null when the server
// is not back yet. Never SDL's: where a server restarts, ALSA's device taken meanwhile would
// keep it from its sound card.
std::unique_ptr<AudioOutput> ReopenAudioOutput(OpaqueAudioQueue& queue);

// True when the sound server answered this process once but not at its last try: it is
// restarting, or gone.
bool OutputServerIsAway();

}  // namespace output_queue

struct OpaqueAudioQueue {
  // Set before the output opens; read-only after.
  AudioStreamBasicDescription format{};
  AudioQueueOutputCallback callback = nullptr;
  void* user_data = nullptr;
  std::thread refill_thread;

  // Held for every call into the output: the queue's thread replaces an output that went away.
  std::mutex output_mutex;
  std::unique_ptr<output_queue::AudioOutput> output;

  std::mutex mutex;
  std::condition_variable buffer_heard;  // Wakes the refill thread.
  // Everything below is guarded by `mutex`.
  std::vector<std::unique_ptr<output_queue::QueueBuffer>> buffers;
  // Enqueued buffers in playing order: a ring of `ring_count` entries from `ring_head`, sized
  // to hold every buffer so that enqueueing never allocates. The front ones may have been
  // written to the output already; they stay until they have been heard.
  std::vector<output_queue::QueueBuffer*> ring;
  size_t ring_head = 0;
  size_t ring_count = 0;
  UInt64 enqueued_bytes = 0;  // Since the queue was made.
  UInt64 written_bytes = 0;   // Copied to the output.
  UInt64 heard_bytes = 0;     // Heard: buffers that end here or before go back.
  UInt64 clock_bytes = 0;     // Heard by the output's clock, also while a stop plays out.
  UInt64 origin_bytes = 0;    // Heard before the present output began.
  bool output_lost = false;   // The output went away; the queue's thread opens another.
  output_queue::QueueState state = output_queue::QueueState::kStopped;
  bool draining = false;  // A stop that lets the queued buffers play out is under way.
  bool disposing = false;
  bool stopped_at_once = false;  // An immediate stop has dropped the stream: no restart.
};

namespace output_queue {

// --- For the device side -----------------------------------------------------------------------

// Copies up to `capacity` bytes (whole frames) of the PCM that comes next into `destination`
// while the queue runs; the count copied. Takes the queue's lock.
UInt32 TakePcm(OpaqueAudioQueue& queue, void* destination, UInt32 capacity);

// True when everything enqueued has been copied to the output: nothing more comes until some of
// it has been heard and refilled.
bool AllWritten(OpaqueAudioQueue& queue);

// True when a stop that lets the queued buffers play out is under way and all of them have been
// copied to the output: what is left is for the output to play out.
bool DrainDue(OpaqueAudioQueue& queue);

// The listener has heard `frames` frames of the present output: buffers played by then go back
// to the refill routine, on the queue's thread.
void MarkHeard(OpaqueAudioQueue& queue, UInt64 frames);

// The output has played out a draining stop: the queue stops, every buffer goes back.
void FinishDrain(OpaqueAudioQueue& queue);

// The output went away (its server stopped, or dropped the stream): the queue's thread opens a
// new one, which plays on from what was last heard.
void LoseOutput(OpaqueAudioQueue& queue);

// True when the first queued buffer has been heard and can go back. Queue's lock held.
bool FrontHeard(const OpaqueAudioQueue& queue);

}  // namespace output_queue
