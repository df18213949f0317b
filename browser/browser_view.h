#pragma once

#include "browser/file_browser_state.h"
#include "tui/dom/elements.h"

// Draws the visible rows of the listing, first bringing the selected row into view (the one
// field it writes is scroll_offset).
struct RenderFileBrowser {
  FileBrowserState* state;

  tui::Element operator()() const;
};
