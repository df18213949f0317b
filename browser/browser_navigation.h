#pragma once

#include <functional>
#include <string>

#include "browser/file_browser_state.h"
#include "tui/component/component.h"

// Screen rows above the first listing row: top border, now-playing line, separator, progress
// row, separator, title line, separator, folder header.
inline constexpr int kListingTopRow = 8;

// The browser's keys: moving the highlight, paging, entering folders, choosing a file and
// previewing its tags.
struct HandleBrowserEvent {
  FileBrowserState* state;
  std::function<void(const std::string&)> on_select;

  bool operator()(tui::Event event) const;
};

// The browser component: the listing's view with the browser's keys.
tui::Component MakeFileBrowser(FileBrowserState* state,
                               std::function<void(const std::string&)> on_select);
