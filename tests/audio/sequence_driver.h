#pragma once

// What the main screen does for the sequence, for tests that drive the engine without it.

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "audio/playback_state.h"

namespace engine_test {

// Names `path` as what follows the track decoded last ("" for nothing), then steps.
inline SequenceChange NameNextAndStep(PlaybackState& state, const std::string& path) {
  OfferNextFile(state, TrackWantingSuccessor(state), path);
  return StepPlayback(state);
}

// Names what follows the track decoded last in `album` ("" after its last file), as the listing
// of a folder that holds the album would, then steps.
inline SequenceChange NameNextInAlbumAndStep(PlaybackState& state,
                                             const std::vector<std::string>& album) {
  const SequencedTrack* after = TrackWantingSuccessor(state);
  std::string next;
  for (size_t i = 0; after != nullptr && i + 1 < album.size(); ++i) {
    if (album[i] == after->path) {
      next = album[i + 1];
    }
  }
  OfferNextFile(state, after, next);
  return StepPlayback(state);
}

// Nothing follows the track that plays: it ends with its data.
inline void PlayAlone(PlaybackState& state) { NameNextAndStep(state, ""); }

// Steps until `done` holds, as the screen's passes would; every change seen goes to `changes`.
// False after `patience`.
inline bool StepUntil(PlaybackState& state, const std::function<bool()>& done,
                      std::vector<SequenceChange>* changes = nullptr,
                      std::chrono::milliseconds patience = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    SequenceChange change = StepPlayback(state);
    if (changes != nullptr && change.kind != SequenceChangeKind::kNone) {
      changes->push_back(std::move(change));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace engine_test
