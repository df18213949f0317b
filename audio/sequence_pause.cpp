// Pausing and resuming what is heard, across a join and across the start of a follower.

#include "audio/track_sequence.h"

namespace {

bool SuccessorComing(TrackSequence& sequence) {
  std::lock_guard<std::mutex> lock(sequence.mutex);
  switch (sequence.successor) {
    case Successor::kReading:
    case Successor::kDeferred:
    case Successor::kJoins:
    case Successor::kNewStream:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool HeardCanPause(TrackSequence& sequence) {
  return sequence.player != nullptr && (PlayerAudible(sequence.player) ||
                                        sequence.follower != nullptr || SuccessorComing(sequence));
}

void PauseHeard(TrackSequence& sequence) {
  bool follower_started = false;
  {
    // First, so that the follower cannot start from the refill thread after the check below.
    std::lock_guard<std::mutex> lock(sequence.follow_mutex);
    sequence.held = true;
    follower_started = sequence.follower_started;
  }
  if (sequence.follower != nullptr && follower_started) {
    PausePlayer(sequence.follower);
  }
  if (sequence.player != nullptr && PlayerAudible(sequence.player)) {
    PausePlayer(sequence.player);
  }
}

void ResumeHeard(TrackSequence& sequence) {
  Player* player = sequence.player;
  if (player != nullptr && PlayerAudible(player) && player->paused.load()) {
    ResumePlayer(player);
  }
  std::lock_guard<std::mutex> lock(sequence.follow_mutex);
  sequence.held = false;
  Player* follower = sequence.follower;
  if (follower == nullptr) {
    return;
  }
  if (sequence.follower_started) {
    if (follower->paused.load()) {
      ResumePlayer(follower);
    }
  } else if (sequence.follower_armed != nullptr && player != nullptr && PlayerPlayedOut(player)) {
    // Heard out while held: the refill thread left the start to us.
    sequence.follower_started = AudioQueueStart(follower->queue, nullptr) == noErr;
    sequence.follower_armed = nullptr;
  }
}

double HeardPosition(TrackSequence& sequence) {
  Player* player = sequence.player;
  if (player == nullptr) {
    return -1;
  }
  if (!player->started) {
    return player->paused.load() ? 0 : -1;
  }
  return PlayerCurrentTime(player);
}
