#include "ui/next_track.h"

std::string NextTrackPath(const FileBrowserState& browser) {
  const int count = static_cast<int>(browser.entries.size());
  const int playing = browser.playing_index;
  int i = playing + 1 < count ? playing + 1 : 0;
  if (i >= count) {
    return {};
  }
  // Each entry is examined at most once.
  int examined = 0;
  while (browser.entries[i].is_directory) {
    i = (i + 1) % count;
    ++examined;
    if (i == playing || examined == count) {
      return {};
    }
  }
  if (i == playing) {
    return {};
  }
  return browser.entries[i].path;
}

bool AdvanceToNextTrack(const FileBrowserState& browser,
                        const std::function<void(const std::string&)>& on_track_selected) {
  // A copy: the callback may rebuild what the browser's entries hold.
  const std::string path = NextTrackPath(browser);
  if (path.empty()) {
    return false;
  }
  on_track_selected(path);
  return true;
}
