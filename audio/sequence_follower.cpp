// The follower: a stream of its own for a track that cannot join the one before it, made while
// that one is still heard and started the moment it has been heard out.

#include <utility>

#include "audio/failure_line.h"
#include "audio/track_sequence.h"

void TrackSequence::MakeFollowerIfDue() {
  if (follower_.player != nullptr || successor_ != Successor::kWaitsForStream ||
      !heard_.feed->Ended()) {
    return;
  }
  auto feed = std::make_unique<StreamFeed>(std::move(waiting_track_));
  Player* follower = CreatePlayer(feed->Heard().track->client_format, feed->Source());
  if (follower == nullptr) {
    FailSuccessor("Failed to create player for: ");
    return;
  }
  if (!PrimePlayer(follower)) {
    FreePlayer(follower);
    FailSuccessor("Failed to start playback for: ");
    return;
  }
  follower_ = Stream{follower, std::move(feed)};
  // The follower's track is decoded last now: its own successor is named next.
  successor_ = Successor::kUnnamed;
  if (held_) {
    PausePlayer(follower);
  }
  FollowPlayer(follower, heard_.player);
}

SequenceChange TrackSequence::AfterPlayedOut() {
  if (follower_.player != nullptr) {
    return HandOver();
  }
  if (successor_ == Successor::kFailed) {
    const std::string path = successor_path_;
    const std::string lines = std::move(failure_lines_);
    const char* text = failure_text_;
    Stop();
    WriteLines(lines);
    WriteFailureLine(text, path);
    return {SequenceChangeKind::kStopped, path};
  }
  if (successor_ == Successor::kNone && !ended_told_) {
    ended_told_ = true;
    return {SequenceChangeKind::kEnded, {}};
  }
  return {};
}

SequenceChange TrackSequence::HandOver() {
  // Its refill thread ends here; a start of the follower it made has returned.
  FreePlayer(heard_.player);
  heard_ = std::move(follower_);
  follower_ = Stream{};
  ended_told_ = false;
  Player* player = heard_.player;
  const std::string& path = heard_.feed->Heard().path;
  // Started already, or held by a pause; else its start failed or never came: once more here.
  if (!player->started.load() && !player->paused.load() && !StartPlayer(player)) {
    const std::string failed = path;
    WriteFailureLine("Failed to start playback for: ", failed);
    Stop();
    return {SequenceChangeKind::kStopped, failed};
  }
  return {SequenceChangeKind::kMovedOn, path};
}
