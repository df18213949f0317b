// What follows the track decoded last: named by the screen's listing, read ahead by the loader,
// and joined to the stream or kept for a stream of its own.

#include <algorithm>
#include <utility>

#include "audio/file_budget.h"
#include "audio/track_sequence.h"

namespace {

bool SameShape(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) {
  return a.mSampleRate == b.mSampleRate && a.mChannelsPerFrame == b.mChannelsPerFrame &&
         a.mBytesPerFrame == b.mBytesPerFrame;
}

}  // namespace

void TrackSequence::NameSuccessor(const FileOnListing& listing, const SequencedTrack& after) {
  const bool heard = follower_.player == nullptr && &after == &heard_.feed->Heard();
  const std::string& path = listing(after.path, heard);
  // Asked on every pass: only a change is acted on.
  if (after.id == successor_of_ && path == successor_path_) {
    return;
  }
  SetSuccessor(path, after);
}

void TrackSequence::SetSuccessor(const std::string& path, const SequencedTrack& after) {
  CancelReadAhead();
  StreamFeed& feed = *Decoding().feed;
  std::unique_ptr<SequencedTrack> dropped = feed.TakeBackJoin();
  waiting_track_.reset();
  successor_of_ = after.id;
  successor_path_ = path;
  failure_lines_.clear();
  ended_told_ = false;
  const bool hollow = std::find(hollow_run_.begin(), hollow_run_.end(), path) != hollow_run_.end();
  if (path.empty() || hollow) {
    successor_ = Successor::kNone;
    feed.SetNothingFollows(true);
    return;
  }
  feed.SetNothingFollows(false);
  successor_ = Successor::kReading;
  ahead_ = Read{loader_.Request(path, RoomBeside(after, file_budget_)), path};
}

void TrackSequence::TakeSuccessor(LoadedFile answer) {
  ahead_.reset();
  if (answer.too_large) {
    successor_ = Successor::kDeferred;
    return;
  }
  if (answer.track == nullptr) {
    FailSuccessor("Failed to load: ", std::move(answer.failure_lines));
    return;
  }
  auto next = Sequenced(std::move(answer.track), answer.path);
  Stream& decoding = Decoding();
  if (SameShape(next->track->client_format, decoding.player->format) && !decoding.feed->Ended()) {
    decoding.feed->Join(std::move(next));
    successor_ = Successor::kJoined;
    return;
  }
  waiting_track_ = std::move(next);
  decoding.feed->SetNothingFollows(true);
  successor_ = Successor::kWaitsForStream;
}

void TrackSequence::FailSuccessor(const char* text, std::string lines) {
  failure_lines_ = std::move(lines);
  failure_text_ = text;
  successor_ = Successor::kFailed;
  Decoding().feed->SetNothingFollows(true);
}

void TrackSequence::ReadDeferredSuccessor() {
  // Once the data before it has ended, the bytes of the track decoded last are gone (closed
  // earlier in the step): the large file now has the room.
  if (successor_ != Successor::kDeferred || !Decoding().feed->DataEnded()) {
    return;
  }
  successor_ = Successor::kReading;
  ahead_ = Read{loader_.Request(successor_path_, kNoLimit), successor_path_};
}

void TrackSequence::ResumeOnceDecided() {
  const bool undecided = successor_ == Successor::kUnnamed || successor_ == Successor::kReading ||
                         successor_ == Successor::kDeferred;
  if (!undecided && Decoding().feed->Waiting()) {
    ResumeFilling(Decoding().player);
  }
}

void TrackSequence::NoteHollowTrack(const DecodingTrack& decoding) {
  if (decoding.yielded) {
    hollow_run_.clear();
  } else if (decoding.spent && decoding.track->id != hollow_seen_) {
    hollow_seen_ = decoding.track->id;
    hollow_run_.push_back(decoding.track->path);
  }
}
