#pragma once

#include <memory>

#include "browser/file_browser_state.h"
#include "tui/dom/elements.h"

// The rows the listing showed last and the element drawn for them.
struct ListingMemo;
std::shared_ptr<ListingMemo> MakeListingMemo();

// Draws the visible rows of the listing, first bringing the selected row into view (the one
// field it writes is scroll_offset). While the visible rows show what they showed last time, it
// hands back the element it built then, so that the frame need not be drawn again.
struct RenderFileBrowser {
  FileBrowserState* state;
  // Shared by the copies of one view.
  std::shared_ptr<ListingMemo> memo = MakeListingMemo();

  tui::Element operator()() const;
};
