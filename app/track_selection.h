#pragma once

#include <string>

#include "audio/playback_state.h"
#include "browser/file_browser_state.h"

// Plays a chosen file and, when it plays, marks its row as playing and selected.
struct OnTrackSelected {
  PlaybackState& playback;
  FileBrowserState& browser;

  void operator()(const std::string& path) const;
};

// Makes the first file row whose path is exactly `path` the playing and selected row, scrolled
// so that five rows show above it; with no such row, no row is marked playing.
void MarkPlayingEntry(FileBrowserState& browser, const std::string& path);
