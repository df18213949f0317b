#include "ui/next_track.h"

namespace {

const std::string kNoPath;

// The next file row after `row` (-1, or past the end: from the top), each entry examined at
// most once; none when `row` is the only file.
const std::string& NextFileAfterRow(const FileBrowserState& browser, int row) {
  const int count = static_cast<int>(browser.entries.size());
  int i = row + 1 < count ? row + 1 : 0;
  if (i >= count) {
    return kNoPath;
  }
  int examined = 0;
  while (browser.entries[i].is_directory) {
    i = (i + 1) % count;
    ++examined;
    if (i == row || examined == count) {
      return kNoPath;
    }
  }
  return i == row ? kNoPath : browser.entries[i].path;
}

}  // namespace

const std::string& NextTrackPath(const FileBrowserState& browser) {
  return NextFileAfterRow(browser, browser.playing_index);
}

const std::string& NextTrackPathAfter(const FileBrowserState& browser, const std::string& path) {
  const int count = static_cast<int>(browser.entries.size());
  for (int i = 0; i < count; ++i) {
    if (!browser.entries[i].is_directory && browser.entries[i].path == path) {
      return NextFileAfterRow(browser, i);
    }
  }
  return NextFileAfterRow(browser, -1);
}

const std::string& FileFollowing(const FileBrowserState& browser, const std::string& path,
                                 bool heard) {
  return heard ? NextTrackPath(browser) : NextTrackPathAfter(browser, path);
}
