#include "app/track_selection.h"

void OnTrackSelected::operator()(const std::string& path) const {
  if (!LoadAndPlay(playback, path)) {
    // The track that played has already stopped: no row may go on claiming it plays.
    browser.playing_index = -1;
    browser.paused = false;
    return;
  }
  browser.paused = false;
  MarkPlayingEntry(browser, path);
}

void MarkPlayingEntry(FileBrowserState& browser, const std::string& path) {
  // Five rows stay visible above the marked row once it lies beyond the first six.
  constexpr int kRowsAboveMarked = 5;
  const int count = static_cast<int>(browser.entries.size());
  for (int i = 0; i < count; ++i) {
    const FileEntry& entry = browser.entries[i];
    if (!entry.is_directory && entry.path == path) {
      browser.playing_index = i;
      browser.selected = i;
      browser.scroll_offset = i <= kRowsAboveMarked ? 0 : i - kRowsAboveMarked;
      return;
    }
  }
  browser.playing_index = -1;
}
