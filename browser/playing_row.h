#pragma once

#include <string>

#include "browser/file_browser_state.h"

// Makes the first file row whose path is exactly `path` the playing and selected row, scrolled
// so that five rows show above it; with no such row, no row is marked playing.
void MarkPlayingEntry(FileBrowserState& browser, const std::string& path);
