// The follower: a stream of its own for a track that cannot join the one before it, made while
// that one is still heard and started the moment it has been heard out.

#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "audio/failure_line.h"
#include "audio/sequence_steps.h"

namespace {

using TrackList = std::deque<std::unique_ptr<SequencedTrack>>;

void DropFollowerStream(TrackSequence& sequence) {
  TrackList gone;
  std::lock_guard<std::mutex> lock(sequence.mutex);
  gone.swap(sequence.follower_stream);
  sequence.decoding_follower = false;
  sequence.stream_ended = true;
}

// The ended stream has been heard out: the follower is the Player now, started by the ended
// stream's refill thread already, or here, or held paused if a pause came first.
SequenceChange HandOver(TrackSequence& sequence) {
  bool started = false;
  bool held = false;
  {
    std::lock_guard<std::mutex> lock(sequence.follow_mutex);
    started = sequence.follower_started;
    held = sequence.held;
    sequence.follower_armed = nullptr;
    sequence.follower_started = false;
  }
  // Its refill thread ends here; a start it made has returned.
  FreePlayer(sequence.player);
  TrackList gone;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    gone.swap(sequence.stream);
    sequence.stream.swap(sequence.follower_stream);
    sequence.decoding_follower = false;
    sequence.heard = sequence.stream.front().get();
  }
  sequence.player = std::exchange(sequence.follower, nullptr);
  sequence.ended_told = false;
  Player* player = sequence.player;
  if (started) {
    player->primed = false;
    player->started = true;
    player->running.store(true);
  } else if (held) {
    HoldPlayer(player);
  } else if (!StartPlayer(player)) {
    const std::string path = sequence.heard->path;
    WriteFailureLine("Failed to start playback for: ", path);
    StopSequence(sequence);
    return {SequenceChangeKind::kStopped, path};
  }
  return {SequenceChangeKind::kMovedOn, sequence.heard->path};
}

}  // namespace

void MakeFollowerIfDue(TrackSequence& sequence) {
  std::unique_ptr<SequencedTrack> first;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    if (!sequence.stream_ended || sequence.follower != nullptr || sequence.next == nullptr) {
      return;
    }
    first = std::move(sequence.next);
    sequence.successor = Successor::kUndecided;
  }
  Player* follower = MakePlayer(sequence, first->track->client_format);
  if (follower == nullptr) {
    FailSuccessor(sequence, "Failed to create player for: ");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    sequence.follower_stream.push_back(std::move(first));
    sequence.decoding_follower = true;
    sequence.stream_ended = false;
    sequence.waiting = false;
  }
  sequence.follower = follower;
  if (!PrimePlayer(follower)) {
    FreePlayer(follower);
    sequence.follower = nullptr;
    DropFollowerStream(sequence);
    FailSuccessor(sequence, "Failed to start playback for: ");
    return;
  }
  std::lock_guard<std::mutex> lock(sequence.follow_mutex);
  sequence.follower_armed = follower;
  sequence.follower_started = false;
}

SequenceChange AfterPlayedOut(TrackSequence& sequence) {
  if (sequence.follower != nullptr) {
    return HandOver(sequence);
  }
  Successor successor = Successor::kUndecided;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    successor = sequence.successor;
  }
  if (successor == Successor::kFailed) {
    const std::string path = sequence.successor_path;
    const std::string lines = std::move(sequence.successor_failure_lines);
    const char* text = sequence.successor_failure_text;
    StopSequence(sequence);
    WriteLines(lines);
    WriteFailureLine(text, path);
    return {SequenceChangeKind::kStopped, path};
  }
  if (successor == Successor::kNone && !sequence.ended_told) {
    sequence.ended_told = true;
    return {SequenceChangeKind::kEnded, {}};
  }
  return {};
}
