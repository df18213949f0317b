#include "browser/playing_row.h"

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
