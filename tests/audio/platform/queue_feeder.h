#pragma once

// A source of numbered PCM frames for the output queue's tests, and a refill routine that feeds
// them chunk by chunk, recording what the queue did.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/platform/audio_platform.h"

namespace platform_test {

// Sample `channel` of frame `frame`: distinct for a long stretch, and never zero, so that silence
// the output adds can be told apart and dropped.
int16_t PatternSample(int64_t frame, int channel);

// 16-bit interleaved PCM at 44.1 kHz.
AudioStreamBasicDescription PcmFormat(int channels);

struct QueueFeeder {
  // Set before the queue starts; read-only after.
  AudioQueueRef queue = nullptr;
  int channels = 2;
  int frames_per_chunk = 1000;
  int total_chunks = 10;
  bool stop_after_last = true;  // Calls AudioQueueStop(queue, false) from the refill routine.
  std::chrono::milliseconds refill_delay{0};

  // Written on the audio thread (and by Prime before the start).
  int next_chunk = 0;
  std::atomic<int> refills{0};
  std::atomic<bool> in_refill{false};

  // Allocates `buffers` buffers of one chunk each and enqueues a chunk in each.
  void Prime(int buffers);
  // Fills `buffer` with the next chunk and enqueues it; false when all chunks are out.
  bool EnqueueNextChunk(AudioQueueBufferRef buffer);
  // The frames of the first `chunks` chunks, interleaved.
  std::vector<int16_t> Expected(int chunks) const;
};

// The refill routine, with the feeder as user data. Runs on the queue's audio thread.
void RefillFromFeeder(void* feeder, AudioQueueRef queue, AudioQueueBufferRef buffer);

// The samples SDL's disk driver wrote to `path`, without the all-zero frames of silence.
std::vector<int16_t> DiskOutputWithoutSilence(const std::string& path, int channels);

// Polls `condition` until it holds; false after `timeout`.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace platform_test
