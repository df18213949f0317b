#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "browser/file_browser_state.h"

// The extensions the browser lists, lower case, with the dot.
inline constexpr std::array<std::string_view, 4> kSupportedExtensions = {".mp3", ".wav", ".flac",
                                                                         ".m4a"};

// The rows of `dir`: the parent row (unless at the root), folders, then supported files, each
// group in byte order. Never throws, never prints; a failure gives the rows found so far.
std::vector<FileEntry> ScanDirectory(const std::string& dir);

// Listing rows that fit on the screen: 20 before the first frame, else height - 9, at least 1.
int VisibleRowCount();

// `offset` limited to 0 .. max(count - rows, 0).
int ClampScroll(int offset, int count, int rows);
