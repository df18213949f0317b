#pragma once

// The sequence of tracks that plays: the track being heard, those joined after it on the same
// stream, the one read ahead to follow them, the stream frame where each begins, the loader that
// reads files off the main thread, and the Players that play the streams.
//
// A track follows the one before it on the same stream when it decodes to the same rate and
// channel count: the refill routine goes on into it the moment the data before it ends, sample
// for sample. One of another shape, or one that comes after the stream has ended, gets a stream
// of its own (the follower), made and primed while the ended one is still heard, and started the
// moment that one has been heard out. The screen tells the sequence which file comes next on the
// listing, and reads from it what is heard; it never waits for a file.
//
// Threads and locks:
// - The main thread runs every function declared here, and owns the Players and the tracks.
// - The refill thread of the playing stream runs FillFromSequence through its Player, with the
//   Player's fill lock held; it takes `mutex` for the whole of one buffer's decode. It never
//   waits for anything else: when the data ends before the next track is there, its buffers
//   wait in the Player, and the main thread fills them when the track comes (ResumeFilling).
// - The refill thread of a stream that has ended runs StartFollowerWhenPlayedOut once it has
//   been heard out, with `follow_mutex`: the follower starts from there, not a pass later.
// - The loader's thread reads files; it shares nothing with the sequence but its answers.
// - Lock order: a Player's fill lock, then `mutex`. `follow_mutex` is never held with either.
//   The main thread holds `mutex` only for moments, never while it calls into a Player.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/player.h"
#include "audio/track.h"
#include "audio/track_loader.h"

// A track in a stream.
struct SequencedTrack {
  std::uint64_t id = 0;  // Unique in its sequence: the screen names what follows it by this.
  std::string path;
  OwnedTrack track;
  // Set before the track is decoded; read-only after. Where it begins in its stream.
  UInt64 start_frame = 0;
  // Under `mutex`. Its data has ended (its decoder and bytes may go: the main thread closes
  // them, and keeps its tags and length for the screen); and whether it gave a frame first.
  bool spent = false;
  bool yielded = false;
};

// What follows the track decoded last, as far as the sequence knows.
enum class Successor {
  kUndecided,  // The screen has not named it yet.
  kReading,    // The loader reads it.
  kDeferred,   // Too large to hold beside the track before it: read once that one's data ends.
  kJoins,      // Loaded, of the same shape: the stream goes on into it.
  kNewStream,  // Loaded, but needs a stream of its own.
  kNone,       // Nothing follows.
  kFailed,     // It did not load: once the stream is heard out, its failure, then nothing plays.
};

// What a step of the sequence changed that the screen shows.
enum class SequenceChangeKind {
  kNone,
  kStarted,  // A chosen file plays from its start.
  kMovedOn,  // The track that follows is heard now.
  kStopped,  // A file failed (its lines are written): nothing plays.
  kEnded,    // The last track has been heard out, and nothing follows it.
};

struct SequenceChange {
  SequenceChangeKind kind = SequenceChangeKind::kNone;
  std::string path;  // The track heard now, for kStarted and kMovedOn; the one that failed.
};

struct TrackSequence {
  TrackSequence() = default;
  ~TrackSequence();
  TrackSequence(const TrackSequence&) = delete;
  TrackSequence& operator=(const TrackSequence&) = delete;

  // Main thread only, as every field down to `mutex`.
  Player* player = nullptr;          // Owned: plays `heard` and the tracks joined after it.
  bool track_loaded = false;         // A track is being heard, or has been and stays in place.
  SequencedTrack* heard = nullptr;   // The front of `stream`.
  Player* follower = nullptr;        // Owned: primed for the front of `follower_stream`.
  TrackLoader* loader = nullptr;     // Started at the first read.
  std::uint64_t chosen_request = 0;  // The loader reads a chosen file.
  std::string chosen_path;
  std::uint64_t successor_request = 0;  // The loader reads the successor.
  std::uint64_t last_id = 0;
  std::uint64_t successor_of = 0;  // The track `successor_path` was named after.
  std::string successor_path;
  // Why the successor failed, for when the stream is heard out: LoadTrack's own lines, then
  // this text and the path.
  std::string successor_failure_lines;
  const char* successor_failure_text = nullptr;
  // Consecutive tracks that gave no frame at all, up to the one decoded last: a folder of them
  // is gone through once, not for ever.
  std::vector<std::string> hollow_run;
  std::uint64_t hollow_seen = 0;
  bool ended_told = false;        // kEnded has been reported for the stream heard out.
  SequenceChange pending_change;  // Made outside a step, reported by the next one.

  // Guards, with the tracks' `spent` and `yielded`, what the refill side reads and writes.
  std::mutex mutex;
  std::deque<std::unique_ptr<SequencedTrack>> stream;           // `player`'s, in order.
  std::deque<std::unique_ptr<SequencedTrack>> follower_stream;  // `follower`'s.
  bool decoding_follower = false;  // The refill side decodes for the follower.
  bool stream_ended = false;       // The stream decoded for said kEnded.
  bool waiting = false;            // Its data ended before its successor was known.
  Successor successor = Successor::kUndecided;
  std::unique_ptr<SequencedTrack> next;  // Loaded, for kJoins and kNewStream.

  // Guards the follower's start from the ended stream's refill thread.
  std::mutex follow_mutex;
  Player* follower_armed = nullptr;  // Starts once `player` has been heard out.
  bool follower_started = false;
  bool held = false;  // Paused by the user: whatever starts next starts paused.
};

// The source of the sequence's Players: the track decoded last, then the one that follows it.
// Runs on the refill thread, or on the main thread while it primes or resumes filling.
SourceFill FillFromSequence(void* sequence, AudioQueueBufferRef buffer, UInt64 stream_frame);

// The played-out hook of the sequence's Players: starts the follower. On the refill thread.
void StartFollowerWhenPlayedOut(void* sequence);

// Stops everything and plays `track` (loaded from `path`) from its start, on a new stream.
// False, after the line on standard error, when its output cannot be made or started; nothing
// plays then.
bool StartSequence(TrackSequence& sequence, OwnedTrack track, const std::string& path);

// Frees the Players, closes every track and forgets what was asked of the loader.
void StopSequence(TrackSequence& sequence);

// The file at `path` is read off the main thread and plays once it is there, in place of what
// plays now, which plays on meanwhile. Another choice before then takes its place.
void ChooseFile(TrackSequence& sequence, const std::string& path);

// True while a chosen file is being read.
bool ChoicePending(const TrackSequence& sequence);

// The track whose successor the screen should name by the listing: the one decoded last. Null
// when none is wanted now (nothing plays, or a chosen file is on its way).
const SequencedTrack* TrackWantingSuccessor(TrackSequence& sequence);

// `path` follows `after`, by the listing on screen; "" when nothing does. Called on every pass:
// only a change is acted on. A read ahead that is no longer next is dropped.
void OfferNextFile(TrackSequence& sequence, const SequencedTrack* after, const std::string& path);

// The main thread's share of each pass: takes the loader's answers, lets the stream go on into
// a track that has come, follows what is heard, and starts the follower once the ended stream
// has been heard out.
SequenceChange StepSequence(TrackSequence& sequence);

// True when Space has something to pause: what is heard, or what is about to be.
bool HeardCanPause(TrackSequence& sequence);

// Pauses what is heard at once; whatever would start next starts paused.
void PauseHeard(TrackSequence& sequence);

// Resumes what PauseHeard paused. A stream that has been heard out is not resumed.
void ResumeHeard(TrackSequence& sequence);

// Seconds of the heard track played so far, paused spans left out; 0 for one held before its
// start; -1 when none can be told.
double HeardPosition(TrackSequence& sequence);
