#include "browser/browser_navigation.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "audio/track.h"
#include "browser/browser_view.h"
#include "browser/directory_listing.h"

namespace {

int RowCount(const FileBrowserState& state) { return static_cast<int>(state.entries.size()); }

bool IsRow(const FileBrowserState& state, int index) {
  return index >= 0 && index < RowCount(state);
}

void Clamp(FileBrowserState& state, int rows) {
  state.scroll_offset = ClampScroll(state.scroll_offset, RowCount(state), rows);
}

// True when `index` lies below the visible window that starts at the current offset.
bool BelowWindow(const FileBrowserState& state, int index, int rows) {
  return std::int64_t{index} >= std::int64_t{state.scroll_offset} + rows;
}

void MoveDown(FileBrowserState& state, int rows) {
  if (state.selected >= RowCount(state) - 1) {
    return;
  }
  state.selected += 1;
  if (BelowWindow(state, state.selected, rows)) {
    state.scroll_offset += 1;
  }
  Clamp(state, rows);
}

void MoveUp(FileBrowserState& state, int rows) {
  if (state.selected < 1) {
    return;
  }
  state.selected -= 1;
  if (state.selected < state.scroll_offset) {
    state.scroll_offset -= 1;
  }
  Clamp(state, rows);
}

void MoveHome(FileBrowserState& state) {
  if (state.selected < 1) {
    return;
  }
  state.selected = 0;
  state.scroll_offset = 0;
}

void MoveEnd(FileBrowserState& state, int rows) {
  const int count = RowCount(state);
  if (count == 0) {
    return;
  }
  state.selected = count - 1;
  state.scroll_offset = ClampScroll(count - 1, count, rows);
}

void PageDown(FileBrowserState& state, int rows) {
  const std::int64_t target = std::int64_t{state.selected} + rows;
  state.selected = static_cast<int>(std::min<std::int64_t>(target, RowCount(state) - 1));
  if (BelowWindow(state, state.selected, rows)) {
    state.scroll_offset = state.selected - rows + 1;
  }
  Clamp(state, rows);
}

void PageUp(FileBrowserState& state, int rows) {
  const std::int64_t target = std::int64_t{state.selected} - rows;
  state.selected = static_cast<int>(std::max<std::int64_t>(target, 0));
  if (state.selected < state.scroll_offset) {
    state.scroll_offset = state.selected;
  }
  Clamp(state, rows);
}

// Lists `dir` in place of the current folder, highlighting its first row. The playing mark goes
// with the old rows; the pause toggle and the overlay are not the folder's business.
void EnterFolder(FileBrowserState& state, std::string dir) {
  state.current_dir = std::move(dir);
  state.entries = ScanDirectory(state.current_dir);
  state.selected = 0;
  state.scroll_offset = 0;
  state.playing_index = -1;
}

// Reads the file's tags into the overlay through a track of its own, leaving playback alone.
// A file that does not load changes nothing; LoadTrack reports why.
void PreviewMetadata(FileBrowserState& state, const std::string& path) {
  AudioTrack preview;
  if (LoadTrack(&preview, path.c_str()) != 0) {
    return;
  }
  state.overlay_metadata = preview.metadata;
  state.show_metadata = true;
  CloseTrack(&preview);
}

void Choose(FileBrowserState& state, const std::function<void(const std::string&)>& on_select) {
  if (!IsRow(state, state.selected)) {
    return;
  }
  const FileEntry& entry = state.entries[static_cast<size_t>(state.selected)];
  if (entry.is_directory) {
    EnterFolder(state, entry.path);
  } else if (on_select) {
    on_select(entry.path);
  }
}

void Preview(FileBrowserState& state) {
  if (!IsRow(state, state.selected)) {
    return;
  }
  const FileEntry& entry = state.entries[static_cast<size_t>(state.selected)];
  if (!entry.is_directory) {
    PreviewMetadata(state, entry.path);
  }
}

// Selects the row drawn under a left press; presses outside the listing's rows change nothing.
void SelectUnderPointer(FileBrowserState& state, const tui::Mouse& mouse, int rows) {
  const int visible_row = mouse.y - kListingTopRow;
  if (visible_row < 0 || visible_row >= rows) {
    return;
  }
  const std::int64_t index = std::int64_t{state.scroll_offset} + visible_row;
  if (index >= 0 && index < RowCount(state)) {
    state.selected = static_cast<int>(index);
  }
}

bool IsLeftPress(const tui::Event& event) {
  return event.is_mouse() && event.mouse().button == tui::Mouse::Left &&
         event.mouse().motion == tui::Mouse::Pressed;
}

}  // namespace

bool HandleBrowserEvent::operator()(tui::Event event) const {
  FileBrowserState& browser = *state;
  const int rows = VisibleRowCount();
  if (event == tui::Event::ArrowDown) {
    MoveDown(browser, rows);
  } else if (event == tui::Event::ArrowUp) {
    MoveUp(browser, rows);
  } else if (event == tui::Event::Home) {
    MoveHome(browser);
  } else if (event == tui::Event::End) {
    MoveEnd(browser, rows);
  } else if (event == tui::Event::PageDown) {
    PageDown(browser, rows);
  } else if (event == tui::Event::PageUp) {
    PageUp(browser, rows);
  } else if (event == tui::Event::Return) {
    Choose(browser, on_select);
  } else if (event == tui::Event::Tab) {
    Preview(browser);
  } else if (IsLeftPress(event)) {
    SelectUnderPointer(browser, event.mouse(), rows);
  } else {
    return false;
  }
  return true;
}

tui::Component MakeFileBrowser(FileBrowserState* state,
                               std::function<void(const std::string&)> on_select) {
  return tui::Renderer(RenderFileBrowser{state}) |
         tui::CatchEvent(HandleBrowserEvent{state, std::move(on_select)});
}
