#pragma once

// The loader: a thread of its own that reads files whole and opens them, so that neither the
// screen nor the refill routine ever waits for storage. A file on a share or a disk that spins up
// takes seconds; meanwhile the screen goes on and the track that plays plays on.
//
// Threads and locks: the loader's thread runs LoadTrack, one request at a time, and CloseTrack on
// what nobody wants any more. Everything else here runs on the caller's thread (the main thread).
// `mutex` of the shared state guards the request and the results; the loader's thread never
// holds it while it reads, so the caller never waits for storage, not even to stop the loader.

#include <cstdint>
#include <memory>
#include <string>

#include "audio/track.h"

// A file read for a request, or why it was not.
struct LoadedFile {
  std::uint64_t request = 0;  // The request it answers.
  std::string path;
  OwnedTrack track;           // Loaded and ready to play; null when not.
  std::string failure_lines;  // What LoadTrack would have written to standard error.
  bool deferred = false;      // Larger than the request allowed, so not read.
};

struct TrackLoader;

// Starts the loader's thread; null when it cannot start.
TrackLoader* StartTrackLoader();

// Asks for `path`, read whole and opened, unless it holds more than `size_limit` bytes (then
// the answer is `deferred`). It takes the place of any earlier request, whose read is abandoned
// within a stretch of the file. The request's number, never 0.
std::uint64_t RequestFile(TrackLoader* loader, const std::string& path, std::int64_t size_limit);

// Abandons the request under way, if any.
void CancelRequest(TrackLoader* loader);

// The answer to the latest request once it is there; false until then, and for an earlier
// request (its answer is dropped).
bool TakeLoadedFile(TrackLoader* loader, LoadedFile* answer);

// Abandons the request under way and ends the thread. Waits a moment for it to end; a thread
// stuck in a read of slow storage is left to end by itself, so that quitting never waits for a
// share. Null is ignored.
void StopTrackLoader(TrackLoader* loader);
