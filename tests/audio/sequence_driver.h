#pragma once

// What the main screen does for the sequence, for tests that drive the engine without it: a
// listing to answer what follows, and passes.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "audio/playback_state.h"
#include "audio/track_sequence.h"

namespace engine_test {

// The listing of a folder that holds `album`, in order: what follows each file is the next one,
// and nothing follows the last (nor a file the album does not hold).
FileOnListing AlbumListing(std::vector<std::string> album);

// A listing on which nothing follows anything, as in a folder with no other file.
FileOnListing NoListing();

// Passes with `listing` until `done` holds, as the screen's would; every change seen goes to
// `changes`. False after `patience` (only there so that a broken engine ends the test).
bool StepUntil(PlaybackState& state, const FileOnListing& listing,
               const std::function<bool()>& done, std::vector<SequenceChange>* changes = nullptr,
               std::chrono::milliseconds patience = std::chrono::seconds(20));

}  // namespace engine_test
