#pragma once

#include <string>

#include "audio/playback_state.h"

// Plays a chosen file: it is read off the main thread while what plays plays on, and the main
// screen marks its row as playing and selected once it plays.
struct OnTrackSelected {
  PlaybackState& playback;

  void operator()(const std::string& path) const;
};
