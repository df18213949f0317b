#pragma once

#include <functional>
#include <string>

#include "browser/file_browser_state.h"

// After the playing row, the next file row of the listing, wrapping over the parent row and the
// folders; "" when the playing track is the only file, or the listing holds none.
std::string NextTrackPath(const FileBrowserState& browser);

// After the playing row, the next file row of the listing, wrapping over the parent row and the
// folders; plays it through `on_track_selected`. Nothing plays when the ended track is the only
// file, or the listing holds none: false then.
bool AdvanceToNextTrack(const FileBrowserState& browser,
                        const std::function<void(const std::string&)>& on_track_selected);
