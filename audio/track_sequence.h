#pragma once

// The sequence of tracks that plays: the track heard, those joined after it on the same stream,
// the file that is to follow them, the file chosen to replace them, and the reads of both.
//
// A track follows the one before it on the same stream when it decodes to the same rate and
// channel count: the refill routine goes on into it the moment the data before it ends, sample
// for sample. One of another shape, or one that comes after the stream has ended, gets a stream
// of its own (the follower), made and primed while the ended one is still heard, and started the
// moment that one has been heard out. The screen chooses files, pauses and resumes, answers
// which file follows a given one on its listing, and reads back a snapshot of what is heard; it
// never waits for a file, and never sees a Player, a track of the sequence or a lock.
//
// States, and the moves between them:
// - What plays:
//     idle --PlayNow, or a chosen file read--> playing
//     playing --the stream's data ends, a track of another shape read--> handing over
//         (the follower is primed and starts as the stream is heard out; then playing)
//     playing --heard out, nothing follows--> ended (the track stays in place)
//     any --Stop, or a file that fails--> idle
// - What follows the track decoded last (the successor), asked of the screen on every step:
//     unnamed --the screen names a file--> reading;  --names none, or one heard to be hollow
//         (it gave no frame) since the last that did--> none
//     reading --read, same shape, stream not ended--> joined (handed to the stream; once the
//         stream goes into it, that track is decoded last and its successor is unnamed)
//     reading --read, another shape or the stream ended--> waiting for a stream of its own
//         (the follower takes it once the stream has ended)
//     reading --too large to hold beside the track decoded last--> deferred --that track's data
//         ends and its bytes go--> reading
//     reading --fails--> failed (told once the stream has been heard out; then idle)
//     any --the screen names another file--> unnamed (a read is cancelled, a track read is
//         dropped), then as above
// - A choice: none --Choose--> reading --read--> playing it (a new stream), or its failure told
//   (idle); --Choose another--> reading that one. While a choice is read, nothing is read ahead
//   and nothing joins: the stream plays on to the end of its data. A chosen file too large to
//   hold beside what plays stops what plays, then is read.
// - At most one read is asked of the loader at a time, a choice before a read ahead, and the
//   tracks whose data has ended give back their bytes before the next read is asked for; so the
//   sequence holds at most two files whole: the one decoded last, and the one read for it or
//   for a choice. (A read cancelled holds its bytes in the loader until its reader notices,
//   within a stretch of the file, or for as long as its storage does not answer.)
//
// Threads and locks:
// - The main thread runs every function declared here, owns the Players, the feeds and the
//   tracks, and is the only thread that reads or writes the members below, except as the feeds
//   and Players say.
// - Each stream's Player has its refill thread, which decodes through the stream's feed (see
//   stream_feed.h) and may start the follower (see player.h). The main thread primes and resumes
//   Players, and so decodes a buffer or three, under the same locks.
// - The loader's readers (see track_loader.h) share nothing with the sequence but the answers.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/file_budget.h"
#include "audio/player.h"
#include "audio/stream_feed.h"
#include "audio/track.h"
#include "audio/track_loader.h"

// What a step changed that the screen shows.
enum class SequenceChangeKind {
  kNone,
  kStarted,  // A chosen file plays from its start.
  kMovedOn,  // The track that follows is heard now.
  kStopped,  // Nothing plays now: a file failed (its lines are written), or a chosen file too
             // large to hold beside what played stopped it while it is read.
  kEnded,    // The last track has been heard out, and nothing follows it.
};

struct SequenceChange {
  SequenceChangeKind kind = SequenceChangeKind::kNone;
  std::string path;  // The track heard now, for kStarted and kMovedOn; the one that failed.
};

// What is heard, as of the latest step.
struct HeardSnapshot {
  bool loaded = false;  // A track is heard, or has been and stays in place.
  std::string path;
  TrackMetadata tags;
  double duration = 0;   // Seconds; 0 when nothing is loaded.
  double position = -1;  // Seconds; -1 when none can be told; stands still while paused.
  bool paused = false;   // Paused by PauseHeard, or held before its start.
  SequenceChange change;
};

// The screen's answer to "which file follows this one on the listing?": the file after `path`,
// the track heard now when `heard`, else one joined after it and not heard yet; "" for none.
// The answer stays valid until the listing changes.
using FileOnListing = std::function<const std::string&(const std::string& path, bool heard)>;

class TrackSequence {
 public:
  // The files held whole at once (the one decoded last, and one read beside it) take at most
  // `file_budget` bytes; a larger one is read once the other's bytes are gone.
  explicit TrackSequence(std::int64_t file_budget = MemoryForFiles()) : file_budget_(file_budget) {}
  // Stops everything; reads under way are abandoned, not waited for.
  ~TrackSequence();
  TrackSequence(const TrackSequence&) = delete;
  TrackSequence& operator=(const TrackSequence&) = delete;

  // Stops what plays, reads `path` on this thread and plays it from its start: for the file
  // named at start-up. False, after its line on standard error, on any failure (then idle).
  bool PlayNow(const std::string& path);

  // `path` is read off this thread and replaces what plays once it is there; what plays plays
  // on meanwhile. Choosing again before then replaces the choice; the same file again is
  // ignored while it is read.
  void Choose(const std::string& path);

  // Stops everything: idle, reads cancelled.
  void Stop();

  // Pauses what is heard, or holds what is about to be; whatever would start next starts
  // paused. False when there is nothing to pause.
  bool PauseHeard();
  // Resumes what PauseHeard paused; a stream heard out is not resumed.
  void ResumeHeard();

  // One pass of the screen: takes the loader's answers, asks `listing` what follows the track
  // decoded last, lets the stream go on, follows what is heard, hands over to a follower, and
  // writes what is heard into `snapshot` (in place: its strings keep their room).
  void Step(const FileOnListing& listing, HeardSnapshot& snapshot);

  // Writes what is heard into `snapshot` without a step; its change is none.
  void Snapshot(HeardSnapshot& snapshot);

 private:
  enum class Successor { kUnnamed, kNone, kReading, kDeferred, kJoined, kWaitsForStream, kFailed };

  struct Read {
    RequestId request = 0;
    std::string path;
  };

  // The stream heard, or the follower's.
  struct Stream {
    Player* player = nullptr;
    std::unique_ptr<StreamFeed> feed;
  };

  // track_sequence.cpp: starting, stopping, choices and the step.
  bool StartStream(OwnedTrack track, const std::string& path);
  void FreeStreams();
  SequenceChange TakeChosen(LoadedFile answer);
  void CloseSpentTracks();
  void CancelReadAhead();
  void DropReadAhead();
  std::unique_ptr<SequencedTrack> Sequenced(OwnedTrack track, const std::string& path);
  SequenceChange StepStreams(const FileOnListing& listing);
  bool FollowHeard();
  void FillSnapshot(HeardSnapshot& snapshot);

  // sequence_successor.cpp: what follows the track decoded last.
  Stream& Decoding() { return follower_.player != nullptr ? follower_ : heard_; }
  void NameSuccessor(const FileOnListing& listing, const SequencedTrack& after);
  void SetSuccessor(const std::string& path, const SequencedTrack& after);
  void TakeSuccessor(LoadedFile answer);
  void ReadDeferredSuccessor();
  void ResumeOnceDecided();
  void NoteHollowTrack(const DecodingTrack& decoding);
  void FailSuccessor(const char* text, std::string lines = {});

  // sequence_follower.cpp: the stream of its own for a track of another shape.
  void MakeFollowerIfDue();
  SequenceChange AfterPlayedOut();
  SequenceChange HandOver();

  // sequence_pause.cpp: pause and position.
  bool SomethingToPause();
  double HeardPosition();

  const std::int64_t file_budget_;
  TrackLoader loader_;
  Stream heard_;     // Plays the heard track and those joined after it.
  Stream follower_;  // Primed for a track of another shape; starts once `heard_` is heard out.
  bool loaded_ = false;
  std::uint64_t last_id_ = 0;

  std::optional<Read> chosen_;  // A chosen file being read.
  std::optional<Read> ahead_;   // The successor being read.

  Successor successor_ = Successor::kUnnamed;
  std::uint64_t successor_of_ = 0;  // The track `successor_path_` was named after.
  std::string successor_path_;
  std::unique_ptr<SequencedTrack> waiting_track_;  // For kWaitsForStream.
  // Why the successor failed, for when the stream is heard out: LoadTrack's own lines, then
  // this text and the path.
  std::string failure_lines_;
  const char* failure_text_ = nullptr;

  // The paths of the tracks that gave no frame, since the last that did: a folder of them is
  // gone through once, not for ever.
  std::vector<std::string> hollow_run_;
  std::uint64_t hollow_seen_ = 0;

  bool held_ = false;              // Paused by the user: whatever starts next starts paused.
  bool ended_told_ = false;        // kEnded has been reported for the stream heard out.
  SequenceChange pending_change_;  // Made outside a step, reported by the next one.
};
