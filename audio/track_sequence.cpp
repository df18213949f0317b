// The main thread's side of the sequence: starting and stopping it, the loader's answers, the
// successor named by the screen, what is heard, and the hand-over to a follower.

#include "audio/track_sequence.h"

#include <cstdio>
#include <limits>
#include <utility>

#include <unistd.h>

#include "audio/failure_line.h"
#include "audio/sequence_steps.h"

namespace {

using TrackList = std::deque<std::unique_ptr<SequencedTrack>>;

constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();

// The Player whose stream the refill side decodes for.
Player* DecodingPlayer(TrackSequence& sequence) {
  return sequence.follower != nullptr ? sequence.follower : sequence.player;
}

bool SameShape(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) {
  return a.mSampleRate == b.mSampleRate && a.mChannelsPerFrame == b.mChannelsPerFrame &&
         a.mBytesPerFrame == b.mBytesPerFrame;
}

// A file read ahead may take, with the one it follows, a quarter of the machine's memory; a
// larger one is read once the data before it has ended and its bytes are gone.
std::int64_t ReadAheadLimit(const SequencedTrack& after) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) {
    return kNoLimit;
  }
  const std::int64_t quarter = static_cast<std::int64_t>(pages) * page_size / 4;
  const std::int64_t held = after.track->data != nullptr ? after.track->size : 0;
  return quarter > held ? quarter - held : 0;
}

std::unique_ptr<SequencedTrack> MakeSequencedTrack(TrackSequence& sequence, OwnedTrack track,
                                                   const std::string& path) {
  auto sequenced = std::make_unique<SequencedTrack>();
  sequenced->id = ++sequence.last_id;
  sequenced->path = path;
  sequenced->track = std::move(track);
  return sequenced;
}

bool EnsureLoader(TrackSequence& sequence) {
  if (sequence.loader == nullptr) {
    sequence.loader = StartTrackLoader();
  }
  return sequence.loader != nullptr;
}

// Tracks whose data has ended give back their bytes and decoder; their tags and length stay
// for the screen.
void CloseSpentTracks(TrackSequence& sequence) {
  std::vector<AudioTrack*> spent;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    for (const TrackList* list : {&sequence.stream, &sequence.follower_stream}) {
      for (const auto& track : *list) {
        if (track->spent && track->track->data != nullptr) {
          spent.push_back(track->track.get());
        }
      }
    }
  }
  for (AudioTrack* track : spent) {
    CloseTrack(track);
  }
}

// Keeps the run of tracks, up to the one decoded last, that gave no frame at all.
void NoteHollowTracks(TrackSequence& sequence) {
  std::lock_guard<std::mutex> lock(sequence.mutex);
  const TrackList& list = sequence.decoding_follower ? sequence.follower_stream : sequence.stream;
  if (list.empty()) {
    return;
  }
  const SequencedTrack& decoding = *list.back();
  if (decoding.yielded) {
    sequence.hollow_run.clear();
  } else if (decoding.spent && decoding.id != sequence.hollow_seen) {
    sequence.hollow_seen = decoding.id;
    sequence.hollow_run.push_back(decoding.path);
  }
}

bool InHollowRun(const TrackSequence& sequence, const std::string& path) {
  for (const std::string& hollow : sequence.hollow_run) {
    if (hollow == path) {
      return true;
    }
  }
  return false;
}

// The successor the loader has read: the stream goes on into it, or it waits for a stream of
// its own.
void TakeSuccessor(TrackSequence& sequence, LoadedFile& answer) {
  sequence.successor_request = 0;
  if (answer.deferred) {
    SetSuccessor(sequence, Successor::kDeferred);
    return;
  }
  if (answer.track == nullptr) {
    FailSuccessor(sequence, "Failed to load: ", std::move(answer.failure_lines));
    return;
  }
  auto next = MakeSequencedTrack(sequence, std::move(answer.track), answer.path);
  const AudioStreamBasicDescription& format = DecodingPlayer(sequence)->format;
  std::lock_guard<std::mutex> lock(sequence.mutex);
  const bool joins = SameShape(next->track->client_format, format) && !sequence.stream_ended;
  sequence.next = std::move(next);
  sequence.successor = joins ? Successor::kJoins : Successor::kNewStream;
}

// A chosen file has been read: it plays now, or its failure is told and nothing plays.
SequenceChange PlayChosen(TrackSequence& sequence, LoadedFile& answer) {
  sequence.chosen_request = 0;
  const std::string path = std::move(sequence.chosen_path);
  sequence.chosen_path.clear();
  if (answer.track == nullptr) {
    StopSequence(sequence);
    WriteLines(answer.failure_lines);
    WriteFailureLine("Failed to load: ", path);
    return {SequenceChangeKind::kStopped, path};
  }
  if (!StartSequence(sequence, std::move(answer.track), path)) {
    return {SequenceChangeKind::kStopped, path};
  }
  return {SequenceChangeKind::kStarted, path};
}

// A file that was too large to read ahead is read now that the data before it has ended.
void ReadDeferredSuccessor(TrackSequence& sequence) {
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    if (sequence.successor != Successor::kDeferred || !sequence.waiting) {
      return;
    }
    sequence.successor = Successor::kReading;
  }
  sequence.successor_request = RequestFile(sequence.loader, sequence.successor_path, kNoLimit);
}

// Buffers that waited for a successor are filled once it is known: from it, or to the end.
void ResumeOnceDecided(TrackSequence& sequence) {
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    if (!sequence.waiting || sequence.successor == Successor::kUndecided ||
        sequence.successor == Successor::kReading || sequence.successor == Successor::kDeferred) {
      return;
    }
  }
  ResumeFilling(DecodingPlayer(sequence));
}

// Once the queue's clock has passed a joined track's first frame, that track is the one heard.
bool FollowHeard(TrackSequence& sequence) {
  {
    // The clock is asked only while a track joined after the heard one waits to be heard.
    std::lock_guard<std::mutex> lock(sequence.mutex);
    if (sequence.stream.size() < 2) {
      return false;
    }
  }
  UInt64 clock = 0;
  if (!PlayerHeardFrames(sequence.player, &clock)) {
    return false;
  }
  TrackList gone;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    TrackList& stream = sequence.stream;
    while (stream.size() > 1 && stream[1]->start_frame <= clock) {
      gone.push_back(std::move(stream.front()));
      stream.pop_front();
    }
    if (gone.empty()) {
      return false;
    }
    sequence.heard = stream.front().get();
  }
  SetPlayerClockOrigin(sequence.player, sequence.heard->start_frame);
  return true;
}

// With no thread to read on, a chosen file is read here.
SequenceChange PlayNow(TrackSequence& sequence, const std::string& path) {
  OwnedTrack track(new AudioTrack);
  if (LoadTrack(track.get(), path.c_str()) != 0) {
    StopSequence(sequence);
    WriteFailureLine("Failed to load: ", path);
    return {SequenceChangeKind::kStopped, path};
  }
  if (!StartSequence(sequence, std::move(track), path)) {
    return {SequenceChangeKind::kStopped, path};
  }
  return {SequenceChangeKind::kStarted, path};
}

}  // namespace

Player* MakePlayer(TrackSequence& sequence, const AudioStreamBasicDescription& format) {
  return CreatePlayer(format, PcmSource{FillFromSequence, &sequence},
                      PlayedOutHook{StartFollowerWhenPlayedOut, &sequence});
}

void WriteLines(const std::string& lines) {
  if (!lines.empty()) {
    std::fwrite(lines.data(), 1, lines.size(), stderr);
    std::fflush(stderr);
  }
}

void SetSuccessor(TrackSequence& sequence, Successor successor) {
  std::lock_guard<std::mutex> lock(sequence.mutex);
  sequence.successor = successor;
}

void FailSuccessor(TrackSequence& sequence, const char* text, std::string lines) {
  sequence.successor_failure_lines = std::move(lines);
  sequence.successor_failure_text = text;
  SetSuccessor(sequence, Successor::kFailed);
}

TrackSequence::~TrackSequence() {
  StopSequence(*this);
  StopTrackLoader(loader);
}

void StopSequence(TrackSequence& sequence) {
  if (sequence.loader != nullptr) {
    CancelRequest(sequence.loader);
  }
  sequence.chosen_request = 0;
  sequence.chosen_path.clear();
  sequence.successor_request = 0;
  sequence.successor_of = 0;
  sequence.successor_path.clear();
  sequence.successor_failure_lines.clear();
  sequence.hollow_run.clear();
  sequence.ended_told = false;
  {
    // Disarmed first: the Player's refill thread may hear it out while it is freed.
    std::lock_guard<std::mutex> lock(sequence.follow_mutex);
    sequence.follower_armed = nullptr;
    sequence.follower_started = false;
    sequence.held = false;
  }
  FreePlayer(sequence.player);
  sequence.player = nullptr;
  FreePlayer(sequence.follower);
  sequence.follower = nullptr;
  TrackList gone;
  TrackList gone_too;
  std::unique_ptr<SequencedTrack> next;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    gone.swap(sequence.stream);
    gone_too.swap(sequence.follower_stream);
    next = std::move(sequence.next);
    sequence.decoding_follower = false;
    sequence.stream_ended = false;
    sequence.waiting = false;
    sequence.successor = Successor::kUndecided;
  }
  sequence.heard = nullptr;
  sequence.track_loaded = false;
}

bool StartSequence(TrackSequence& sequence, OwnedTrack track, const std::string& path) {
  StopSequence(sequence);
  auto first = MakeSequencedTrack(sequence, std::move(track), path);
  const AudioStreamBasicDescription format = first->track->client_format;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    sequence.stream.push_back(std::move(first));
    sequence.heard = sequence.stream.front().get();
  }
  sequence.track_loaded = true;
  sequence.player = MakePlayer(sequence, format);
  if (sequence.player == nullptr) {
    WriteFailureLine("Failed to create player for: ", path);
    StopSequence(sequence);
    return false;
  }
  if (!StartPlayer(sequence.player)) {
    WriteFailureLine("Failed to start playback for: ", path);
    StopSequence(sequence);
    return false;
  }
  return true;
}

void ChooseFile(TrackSequence& sequence, const std::string& path) {
  if (sequence.chosen_request != 0 && sequence.chosen_path == path) {
    return;
  }
  // Only a read still under way gives way to the new choice: one that has failed already is
  // told, as it would have been a pass later.
  LoadedFile answer;
  if (sequence.chosen_request != 0 && TakeLoadedFile(sequence.loader, &answer) &&
      answer.request == sequence.chosen_request && answer.track == nullptr) {
    sequence.pending_change = PlayChosen(sequence, answer);
  }
  if (!EnsureLoader(sequence)) {
    sequence.pending_change = PlayNow(sequence, path);
    return;
  }
  // The successor's read gives way; the successor is named again once the choice plays.
  sequence.successor_request = 0;
  sequence.successor_of = 0;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    if (sequence.successor == Successor::kReading) {
      sequence.successor = Successor::kUndecided;
    }
  }
  sequence.chosen_path = path;
  sequence.chosen_request = RequestFile(sequence.loader, path, kNoLimit);
}

bool ChoicePending(const TrackSequence& sequence) { return sequence.chosen_request != 0; }

const SequencedTrack* TrackWantingSuccessor(TrackSequence& sequence) {
  if (sequence.player == nullptr || sequence.chosen_request != 0) {
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(sequence.mutex);
  const TrackList& list = sequence.decoding_follower ? sequence.follower_stream : sequence.stream;
  return list.empty() ? nullptr : list.back().get();
}

void OfferNextFile(TrackSequence& sequence, const SequencedTrack* after, const std::string& path) {
  if (after == nullptr || sequence.player == nullptr || sequence.chosen_request != 0 ||
      (after->id == sequence.successor_of && path == sequence.successor_path)) {
    return;
  }
  std::unique_ptr<SequencedTrack> dropped;
  {
    std::lock_guard<std::mutex> lock(sequence.mutex);
    const TrackList& list = sequence.decoding_follower ? sequence.follower_stream : sequence.stream;
    if (list.empty() || list.back().get() != after) {
      return;  // The stream has gone on into another track meanwhile: asked again next pass.
    }
    dropped = std::move(sequence.next);
    sequence.successor = Successor::kUndecided;
  }
  if (sequence.successor_request != 0) {
    CancelRequest(sequence.loader);
    sequence.successor_request = 0;
  }
  sequence.successor_of = after->id;
  sequence.successor_path = path;
  sequence.successor_failure_lines.clear();
  sequence.ended_told = false;
  if (path.empty() || InHollowRun(sequence, path)) {
    SetSuccessor(sequence, Successor::kNone);
    return;
  }
  if (!EnsureLoader(sequence)) {
    FailSuccessor(sequence, "Failed to load: ");
    return;
  }
  SetSuccessor(sequence, Successor::kReading);
  sequence.successor_request = RequestFile(sequence.loader, path, ReadAheadLimit(*after));
}

SequenceChange StepSequence(TrackSequence& sequence) {
  if (sequence.pending_change.kind != SequenceChangeKind::kNone) {
    return std::exchange(sequence.pending_change, {});
  }
  if (sequence.loader != nullptr) {
    LoadedFile answer;
    if (TakeLoadedFile(sequence.loader, &answer)) {
      if (answer.request == sequence.chosen_request) {
        return PlayChosen(sequence, answer);
      }
      if (answer.request == sequence.successor_request) {
        TakeSuccessor(sequence, answer);
      }
    }
  }
  if (sequence.player == nullptr) {
    return {};
  }
  CloseSpentTracks(sequence);
  NoteHollowTracks(sequence);
  ReadDeferredSuccessor(sequence);
  ResumeOnceDecided(sequence);
  SequenceChange change;
  if (FollowHeard(sequence)) {
    change = {SequenceChangeKind::kMovedOn, sequence.heard->path};
  }
  MakeFollowerIfDue(sequence);
  if (PlayerPlayedOut(sequence.player)) {
    SequenceChange after = AfterPlayedOut(sequence);
    if (after.kind != SequenceChangeKind::kNone) {
      change = std::move(after);
    }
  }
  return change;
}
