#pragma once

#include <string>

#include "audio/playback_state.h"
#include "browser/file_browser_state.h"
#include "browser/playing_row.h"

// Plays a chosen file and, when it plays, marks its row as playing and selected.
struct OnTrackSelected {
  PlaybackState& playback;
  FileBrowserState& browser;

  void operator()(const std::string& path) const;
};
