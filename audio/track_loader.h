#pragma once

// The loader: reads files whole and opens them on threads of its own, so that neither the screen
// nor the refill routine ever waits for storage. A file on a share or a disk that spins up takes
// seconds, and a share that has gone may never answer; meanwhile the screen goes on, the track
// that plays plays on, and another file can still be read.
//
// Requests. Each has a number of its own, never reused, carried to its answer; no number stands
// for "no request". A request moves only forward:
//   queued -> reading -> answered -> taken
// and from any of the first three to cancelled, which is final: a cancelled request is never
// read again, and its answer, if it comes, is dropped (its track closed) and never handed out.
//
// Threads and locks:
// - Readers: each a thread that takes the oldest queued request, reads it (LoadTrack, in
//   stretches, asking between them whether the request still stands), answers it, and takes
//   the next. A request is read by a reader that is free, else by a new one, up to
//   kMaxTrackReaders; beyond that it waits for the first to come free. So a reader stuck in a
//   read that never returns (a hard mount whose server has gone) holds up no other request, and
//   at most kMaxTrackReaders - 1 can be stuck before a request waits.
// - Everything declared here runs on the caller's thread (the main thread).
// - One lock, `mutex` of the shared state, guards the requests, the answers and the readers'
//   states. A reader never holds it while it reads, so the caller never waits for storage.
// - The destructor cancels every request and waits at most 50 ms for the readers at one to see
//   it (between two stretches of a file); it joins every reader that is free by then, and
//   leaves the others, inside a read of storage that does not answer, to end by themselves once
//   their read returns: quitting never waits for a share. Those keep the shared state alive and
//   drop what they read.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/track.h"

// The number of a request to the loader.
using RequestId = std::uint64_t;

// Readers at most at once, stuck ones included.
inline constexpr int kMaxTrackReaders = 4;

// A file read for a request, or why it was not.
struct LoadedFile {
  RequestId request = 0;  // The request it answers.
  std::string path;
  OwnedTrack track;           // Loaded and ready to play; null when not.
  std::string failure_lines;  // What LoadTrack would have written to standard error.
  bool too_large = false;     // Larger than the request allowed, so not read.
};

class TrackLoader {
 public:
  TrackLoader();
  ~TrackLoader();
  TrackLoader(const TrackLoader&) = delete;
  TrackLoader& operator=(const TrackLoader&) = delete;

  // Asks for `path`, read whole and opened, unless it holds more than `size_limit` bytes (then
  // the answer is `too_large`, unread). Where no reader thread can be started at all, the file
  // is read here, before this returns.
  RequestId Request(const std::string& path, std::int64_t size_limit);

  // Cancels `request` for good: a read under way is abandoned within a stretch of the file, or
  // left to a read that does not return. Unknown or finished requests are ignored.
  void Cancel(RequestId request);

  // The answer to `request` once it is there; nothing before, and nothing ever for a cancelled
  // request. An answer is handed out once.
  std::optional<LoadedFile> TakeAnswer(RequestId request);

  struct Shared;

 private:
  void StartReaderIfNeeded();

  std::shared_ptr<Shared> shared_;
  std::vector<std::thread> readers_;
};
