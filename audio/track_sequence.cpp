// The main thread's side of the sequence: starting and stopping it, choices, and the step.

#include "audio/track_sequence.h"

#include <utility>

#include "audio/failure_line.h"
#include "audio/file_budget.h"

TrackSequence::~TrackSequence() { Stop(); }

std::unique_ptr<SequencedTrack> TrackSequence::Sequenced(OwnedTrack track,
                                                         const std::string& path) {
  auto sequenced = std::make_unique<SequencedTrack>();
  sequenced->id = ++last_id_;
  sequenced->path = path;
  sequenced->track = std::move(track);
  return sequenced;
}

void TrackSequence::FreeStreams() {
  // The heard stream first: its follower, if it has not started, no longer waits for it.
  FreePlayer(heard_.player);
  FreePlayer(follower_.player);
  heard_ = Stream{};
  follower_ = Stream{};
  // What was read ahead was for the streams that went.
  CancelReadAhead();
  waiting_track_.reset();
  successor_ = Successor::kUnnamed;
  successor_of_ = 0;
  successor_path_.clear();
  failure_lines_.clear();
  hollow_run_.clear();
  held_ = false;
  ended_told_ = false;
  loaded_ = false;
}

void TrackSequence::Stop() {
  if (chosen_.has_value()) {
    loader_.Cancel(chosen_->request);
    chosen_.reset();
  }
  FreeStreams();
}

bool TrackSequence::StartStream(OwnedTrack track, const std::string& path) {
  FreeStreams();
  auto first = Sequenced(std::move(track), path);
  const AudioStreamBasicDescription format = first->track->client_format;
  heard_.feed = std::make_unique<StreamFeed>(std::move(first));
  loaded_ = true;
  heard_.player = CreatePlayer(format, heard_.feed->Source());
  if (heard_.player == nullptr) {
    WriteFailureLine("Failed to create player for: ", path);
    Stop();
    return false;
  }
  if (!StartPlayer(heard_.player)) {
    WriteFailureLine("Failed to start playback for: ", path);
    Stop();
    return false;
  }
  return true;
}

bool TrackSequence::PlayNow(const std::string& path) {
  Stop();
  OwnedTrack track(new AudioTrack);
  if (LoadTrack(track.get(), path.c_str()) != 0) {
    WriteFailureLine("Failed to load: ", path);
    return false;
  }
  return StartStream(std::move(track), path);
}

void TrackSequence::CloseSpentTracks() {
  heard_.feed->CloseSpentTracks();
  if (follower_.feed != nullptr) {
    follower_.feed->CloseSpentTracks();
  }
}

void TrackSequence::CancelReadAhead() {
  if (ahead_.has_value()) {
    loader_.Cancel(ahead_->request);
    ahead_.reset();
  }
}

void TrackSequence::DropReadAhead() {
  CancelReadAhead();
  waiting_track_.reset();
  if (heard_.player != nullptr) {
    StreamFeed& feed = *Decoding().feed;
    std::unique_ptr<SequencedTrack> dropped = feed.TakeBackJoin();
    feed.SetNothingFollows(true);
  }
  successor_ = Successor::kNone;
}

void TrackSequence::Choose(const std::string& path) {
  if (chosen_.has_value()) {
    if (chosen_->path == path) {
      return;
    }
    // Only a read still under way gives way to the new choice: one that has failed already is
    // told, as it would have been a pass later.
    std::optional<LoadedFile> answer = loader_.TakeAnswer(chosen_->request);
    if (answer.has_value() && answer->track == nullptr && !answer->too_large) {
      pending_change_ = TakeChosen(std::move(*answer));
    } else {
      loader_.Cancel(chosen_->request);
      chosen_.reset();
    }
  }
  DropReadAhead();
  std::int64_t limit = kNoLimit;
  if (heard_.player != nullptr) {
    const SequencedTrack& decoding = *Decoding().feed->Decoding().track;
    CloseSpentTracks();
    limit = RoomBeside(decoding, file_budget_);
  }
  chosen_ = Read{loader_.Request(path, limit), path};
}

SequenceChange TrackSequence::TakeChosen(LoadedFile answer) {
  const std::string path = std::move(chosen_->path);
  chosen_.reset();
  if (answer.too_large) {
    // Too large to hold beside what plays: what plays gives way, then it is read.
    Stop();
    chosen_ = Read{loader_.Request(path, kNoLimit), path};
    return {SequenceChangeKind::kStopped, {}};
  }
  if (answer.track == nullptr) {
    Stop();
    WriteLines(answer.failure_lines);
    WriteFailureLine("Failed to load: ", path);
    return {SequenceChangeKind::kStopped, path};
  }
  if (!StartStream(std::move(answer.track), path)) {
    return {SequenceChangeKind::kStopped, path};
  }
  return {SequenceChangeKind::kStarted, path};
}

bool TrackSequence::FollowHeard() {
  // The clock is asked only while a track joined after the heard one waits to be heard.
  if (!heard_.feed->HoldsUnheardTracks()) {
    return false;
  }
  UInt64 clock = 0;
  if (!PlayerHeardFrames(heard_.player, &clock) || !heard_.feed->FollowClock(clock)) {
    return false;
  }
  SetPlayerClockOrigin(heard_.player, heard_.feed->Heard().start_frame);
  return true;
}

SequenceChange TrackSequence::StepStreams(const FileOnListing& listing) {
  if (pending_change_.kind != SequenceChangeKind::kNone) {
    return std::exchange(pending_change_, {});
  }
  if (chosen_.has_value()) {
    if (std::optional<LoadedFile> answer = loader_.TakeAnswer(chosen_->request)) {
      return TakeChosen(std::move(*answer));
    }
  }
  if (heard_.player == nullptr) {
    return {};
  }
  if (ahead_.has_value()) {
    if (std::optional<LoadedFile> answer = loader_.TakeAnswer(ahead_->request)) {
      TakeSuccessor(std::move(*answer));
    }
  }
  // Read first: every track before it has spent its data, so the close below lets go of all
  // but it, before anything more is read.
  const DecodingTrack decoding = Decoding().feed->Decoding();
  CloseSpentTracks();
  NoteHollowTrack(decoding);
  if (!chosen_.has_value()) {
    NameSuccessor(listing, *decoding.track);
  }
  ReadDeferredSuccessor();
  ResumeOnceDecided();
  SequenceChange change;
  if (FollowHeard()) {
    change = {SequenceChangeKind::kMovedOn, heard_.feed->Heard().path};
  }
  MakeFollowerIfDue();
  if (PlayerPlayedOut(heard_.player)) {
    SequenceChange after = AfterPlayedOut();
    if (after.kind != SequenceChangeKind::kNone) {
      change = std::move(after);
    }
  }
  return change;
}

void TrackSequence::FillSnapshot(HeardSnapshot& snapshot) {
  snapshot.loaded = loaded_;
  if (!loaded_) {
    snapshot.path.clear();
    snapshot.tags = TrackMetadata{};
    snapshot.duration = 0;
    snapshot.position = -1;
    snapshot.paused = false;
    return;
  }
  const SequencedTrack& heard = heard_.feed->Heard();
  snapshot.path = heard.path;
  snapshot.tags = heard.track->metadata;
  snapshot.duration = heard.track->duration;
  snapshot.paused = heard_.player->paused.load();
  // A paused track keeps the position it stopped at; one that has just begun shows its start.
  const SequenceChangeKind kind = snapshot.change.kind;
  if (!snapshot.paused || kind == SequenceChangeKind::kStarted ||
      kind == SequenceChangeKind::kMovedOn) {
    snapshot.position = HeardPosition();
  }
}

void TrackSequence::Step(const FileOnListing& listing, HeardSnapshot& snapshot) {
  snapshot.change = StepStreams(listing);
  FillSnapshot(snapshot);
}

void TrackSequence::Snapshot(HeardSnapshot& snapshot) {
  snapshot.change = {};
  FillSnapshot(snapshot);
}
