// What the device side of an output queue calls: it takes PCM that is ready and reports what
// has been heard. These run on the output's own thread.

#include <algorithm>
#include <cstring>

#include "audio/platform/output_queue.h"

namespace output_queue {
bool FrontHeard(const OpaqueAudioQueue& queue) {
  return queue.ring_count > 0 && queue.ring[queue.ring_head]->end <= queue.heard_bytes;
}

UInt32 TakePcm(OpaqueAudioQueue& queue, void* destination, UInt32 capacity) {
  std::lock_guard<std::mutex> lock(queue.mutex);
  capacity -= capacity % queue.format.mBytesPerFrame;
  auto* out = static_cast<unsigned char*>(destination);
  UInt32 copied = 0;
  for (size_t i = 0; i < queue.ring_count && copied < capacity; ++i) {
    const QueueBuffer& entry = *queue.ring[(queue.ring_head + i) % queue.ring.size()];
    if (entry.end <= queue.written_bytes) {
      continue;  // Written already; waits to be heard.
    }
    const UInt32 size = entry.buffer.mAudioDataByteSize;
    const auto offset = static_cast<UInt32>(size - (entry.end - queue.written_bytes));
    const UInt32 count = std::min(size - offset, capacity - copied);
    std::memcpy(out + copied, entry.memory.get() + offset, count);
    copied += count;
    queue.written_bytes += count;
  }
  return copied;
}

bool AllWritten(OpaqueAudioQueue& queue) {
  std::lock_guard<std::mutex> lock(queue.mutex);
  return queue.written_bytes == queue.enqueued_bytes;
}

bool DrainDue(OpaqueAudioQueue& queue) {
  std::lock_guard<std::mutex> lock(queue.mutex);
  return queue.draining && queue.written_bytes == queue.enqueued_bytes;
}

void MarkHeard(OpaqueAudioQueue& queue, UInt64 frames) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    const UInt64 heard =
        std::min(queue.origin_bytes + frames * queue.format.mBytesPerFrame, queue.written_bytes);
    queue.clock_bytes = std::max(queue.clock_bytes, heard);
    // The last buffers of a draining stop go back once the output has played them out, not by
    // its clock, so that nothing of them is cut off.
    if (queue.draining) {
      return;
    }
    if (heard > queue.heard_bytes) {
      queue.heard_bytes = heard;
      wake = FrontHeard(queue);
    }
  }
  if (wake) {
    queue.buffer_heard.notify_one();
  }
}

void FinishDrain(OpaqueAudioQueue& queue) {
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (!queue.draining) {
      return;  // Stopped at once meanwhile.
    }
    queue.draining = false;
    queue.heard_bytes = queue.written_bytes;
    queue.state = QueueState::kStopped;
  }
  queue.buffer_heard.notify_one();
}

void LoseOutput(OpaqueAudioQueue& queue) {
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.output_lost = true;
  }
  queue.buffer_heard.notify_one();
}

}  // namespace output_queue
