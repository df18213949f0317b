#pragma once

#include <string>
#include <vector>

#include "audio/track.h"

// The label of the row that leads to the folder above.
inline constexpr char kParentLabel[] = ".. (parent)";

// One row of the listing.
struct FileEntry {
  std::string label;  // kParentLabel, "[Folder] name", or the file's name.
  std::string path;   // Absolute path of what the row leads to; links are not resolved.
  bool is_directory = false;
};

// The whole state of the browser; one instance, owned by main, touched only on the UI thread.
struct FileBrowserState {
  std::vector<FileEntry> entries;
  int selected = 0;       // Highlighted row; outside 0..size-1 highlights nothing.
  int scroll_offset = 0;  // First visible row.
  std::string current_dir;
  int playing_index = -1;  // Row whose file plays; -1 for none.
  bool paused = false;     // The user's pause toggle, not the Player's flag.
  bool show_metadata = false;
  TrackMetadata overlay_metadata;
};
