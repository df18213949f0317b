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
