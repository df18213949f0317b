// The refill side of the sequence: what its Players' refill threads run.

#include "audio/track_sequence.h"

namespace {

bool SuccessorMayStillCome(Successor successor) {
  return successor == Successor::kUndecided || successor == Successor::kReading ||
         successor == Successor::kDeferred;
}

}  // namespace

SourceFill FillFromSequence(void* context, AudioQueueBufferRef buffer, UInt64 stream_frame) {
  auto& sequence = *static_cast<TrackSequence*>(context);
  std::lock_guard<std::mutex> lock(sequence.mutex);
  auto& stream = sequence.decoding_follower ? sequence.follower_stream : sequence.stream;
  while (!stream.empty()) {
    SequencedTrack& decoding = *stream.back();
    if (!decoding.spent) {
      if (DecodeTrackInto(decoding.track.get(), buffer) == SourceFill::kFilled) {
        decoding.yielded = true;
        sequence.waiting = false;
        return SourceFill::kFilled;
      }
      decoding.spent = true;
    }
    if (sequence.successor == Successor::kJoins) {
      // Its first frame comes right after the last one enqueued: nothing between, nothing lost.
      sequence.next->start_frame = stream_frame;
      stream.push_back(std::move(sequence.next));
      sequence.successor = Successor::kUndecided;
      continue;
    }
    if (SuccessorMayStillCome(sequence.successor)) {
      // What is queued plays on meanwhile; the main thread resumes the filling when it knows.
      sequence.waiting = true;
      return SourceFill::kLater;
    }
    break;
  }
  sequence.waiting = false;
  sequence.stream_ended = true;
  return SourceFill::kEnded;
}

void StartFollowerWhenPlayedOut(void* context) {
  auto& sequence = *static_cast<TrackSequence*>(context);
  std::lock_guard<std::mutex> lock(sequence.follow_mutex);
  // Held by a pause: it stays primed, and the main thread makes it the paused Player.
  if (sequence.follower_armed == nullptr || sequence.held) {
    return;
  }
  sequence.follower_started = AudioQueueStart(sequence.follower_armed->queue, nullptr) == noErr;
  sequence.follower_armed = nullptr;
}
