// Pausing and resuming what is heard, across a join and across the start of a follower.

#include "audio/track_sequence.h"

bool TrackSequence::SomethingToPause() {
  if (heard_.player == nullptr) {
    return false;
  }
  const bool coming = successor_ == Successor::kReading || successor_ == Successor::kDeferred ||
                      successor_ == Successor::kJoined || successor_ == Successor::kWaitsForStream;
  return PlayerAudible(heard_.player) || follower_.player != nullptr || coming;
}

bool TrackSequence::PauseHeard() {
  if (!SomethingToPause()) {
    return false;
  }
  held_ = true;
  if (PlayerAudible(heard_.player)) {
    PausePlayer(heard_.player);
  }
  if (follower_.player != nullptr) {
    // One that has not started yet is held: it stays primed, and the resume starts it.
    PausePlayer(follower_.player);
  }
  return true;
}

void TrackSequence::ResumeHeard() {
  held_ = false;
  Player* player = heard_.player;
  if (player != nullptr && player->paused.load() &&
      (PlayerAudible(player) || !player->started.load())) {
    ResumePlayer(player);
  }
  if (follower_.player != nullptr && follower_.player->paused.load()) {
    ResumePlayer(follower_.player);
  }
}

double TrackSequence::HeardPosition() {
  Player* player = heard_.player;
  if (player == nullptr) {
    return -1;
  }
  if (!player->started.load()) {
    return player->paused.load() ? 0 : -1;
  }
  return PlayerCurrentTime(player);
}
