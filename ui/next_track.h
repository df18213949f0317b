#pragma once

#include <string>

#include "browser/file_browser_state.h"

// After the playing row, the next file row of the listing, wrapping over the parent row and the
// folders; "" when the playing track is the only file, or the listing holds none. Valid until
// the listing changes.
const std::string& NextTrackPath(const FileBrowserState& browser);

// The same after the first file row whose path is `path`, or from the top of the listing when
// no row has it: what follows a track that was passed over without being heard.
const std::string& NextTrackPathAfter(const FileBrowserState& browser, const std::string& path);

// The one rule for what follows a track of the sequence: after the heard track, the file after
// the playing row (from the top when no row is marked, as after another folder was entered);
// after one joined but not heard yet, the file after its own row.
const std::string& FileFollowing(const FileBrowserState& browser, const std::string& path,
                                 bool heard);
