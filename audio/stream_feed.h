#pragma once

// The source of one stream's PCM: the tracks decoded into it, in order, each with the stream
// frame where it begins, and the track that is to join them. When the data of the track decoded
// last ends, the refill routine goes on into the track given to join, sample for sample; if none
// has been given and one may still come, the buffers wait (kLater); if nothing follows, the
// stream ends.
//
// Threads and locks:
// - The refill routine (Fill) runs on the refill thread of the stream's Player, or on the main
//   thread while it primes or resumes that Player, with the Player's fill lock held. It takes
//   `mutex_` for the whole of one buffer's decode.
// - Everything else runs on the main thread, which alone removes tracks and closes them, and
//   holds `mutex_` only for moments (never to decode). Lock order: the fill lock, then `mutex_`.
// - A track's path, id and tags never change once it is in the feed; its `spent` and `yielded`
//   are read under `mutex_`.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "audio/player.h"
#include "audio/track.h"

// A track in a stream.
struct SequencedTrack {
  std::uint64_t id = 0;  // Unique in its sequence.
  std::string path;
  OwnedTrack track;
  // Set before the track is decoded; read-only after. Where it begins in its stream.
  UInt64 start_frame = 0;
  // Under the feed's lock. Its data has ended (its decoder and bytes may go: the main thread
  // closes them, and keeps its tags and length for the screen); and whether it gave a frame.
  bool spent = false;
  bool yielded = false;
};

// What the refill side has made of the track decoded last.
struct DecodingTrack {
  const SequencedTrack* track = nullptr;
  bool spent = false;
  bool yielded = false;
};

class StreamFeed {
 public:
  explicit StreamFeed(std::unique_ptr<SequencedTrack> first);
  StreamFeed(const StreamFeed&) = delete;
  StreamFeed& operator=(const StreamFeed&) = delete;

  // The source to give the stream's Player.
  PcmSource Source() { return PcmSource{Fill, this}; }

  // The track heard now: the first whose start the clock has passed.
  const SequencedTrack& Heard() const { return *heard_; }
  // The track decoded last, and what has become of it.
  DecodingTrack Decoding() const;

  // `next` joins once the data before it ends. Replaces a track given before that decoding has
  // not gone into yet.
  void Join(std::unique_ptr<SequencedTrack> next);
  // Takes back the track given to join, unless decoding has gone into it; null then.
  std::unique_ptr<SequencedTrack> TakeBackJoin();
  // Whether anything may still join: when nothing may, the stream ends with its data. The
  // default is that something may.
  void SetNothingFollows(bool nothing);

  // The data of the track decoded last has ended, and nothing has joined it yet.
  bool DataEnded() const;
  // Its buffers wait to know what follows.
  bool Waiting() const;
  // The stream has ended: nothing more will ever join it.
  bool Ended() const;
  // A track joined after the heard one waits to be heard.
  bool HoldsUnheardTracks() const;

  // The heard track becomes the last whose first frame `heard_frames` has reached; the tracks
  // before it go. True when it changed.
  bool FollowClock(UInt64 heard_frames);

  // Gives back the bytes and decoders of the tracks whose data has ended.
  void CloseSpentTracks();

 private:
  static SourceFill Fill(void* feed, AudioQueueBufferRef buffer, UInt64 stream_frame);

  // Main thread only.
  const SequencedTrack* heard_ = nullptr;

  mutable std::mutex mutex_;
  // Under `mutex_`.
  std::deque<std::unique_ptr<SequencedTrack>> tracks_;
  std::unique_ptr<SequencedTrack> next_;
  bool nothing_follows_ = false;
  bool waiting_ = false;
  bool ended_ = false;
};
