#include "browser/browser_view.h"

#include <algorithm>
#include <cstdint>

#include "browser/directory_listing.h"

namespace {

constexpr char kParentLabel[] = ".. (parent)";
constexpr char kPausedMarker[] = "⏸";
constexpr char kPlayingMarker[] = "♪♪♪";

// The offset that shows the selected row, before clamping. Compared in 64 bits so that a stray
// offset near the int limits cannot overflow.
int OffsetShowingSelection(int selected, int scroll_offset, int rows) {
  if (selected < scroll_offset) {
    return selected;
  }
  if (std::int64_t{selected} >= std::int64_t{scroll_offset} + rows) {
    return selected - rows + 1;
  }
  return scroll_offset;
}

tui::Element LabelOf(const FileEntry& entry) {
  tui::Element label = tui::text(entry.label);
  if (entry.is_directory && entry.label != kParentLabel) {
    label |= tui::bold | tui::color(tui::Color::Blue);
  } else {
    label |= tui::color(tui::Color::Default);
  }
  return label;
}

tui::Element PlayingMarker(bool paused) {
  if (paused) {
    return tui::text(kPausedMarker) | tui::color(tui::Color::Yellow);
  }
  return tui::text(kPlayingMarker) | tui::color(tui::Color::Green);
}

tui::Element RowOf(const FileBrowserState& state, int index) {
  tui::Element row = LabelOf(state.entries[static_cast<size_t>(index)]);
  if (index == state.playing_index) {
    row = tui::hbox({row, tui::text(" "), PlayingMarker(state.paused)});
  }
  // Last, so that on the playing row the blank and the marker are inverted too.
  if (index == state.selected) {
    row |= tui::inverted;
  }
  return row;
}

}  // namespace

tui::Element RenderFileBrowser::operator()() const {
  const int rows = VisibleRowCount();
  const int count = static_cast<int>(state->entries.size());
  state->scroll_offset =
      ClampScroll(OffsetShowingSelection(state->selected, state->scroll_offset, rows), count, rows);

  const int last = std::min(state->scroll_offset + rows, count);
  tui::Elements lines;
  lines.reserve(static_cast<size_t>(std::max(last - state->scroll_offset, 0)));
  for (int index = state->scroll_offset; index < last; ++index) {
    lines.push_back(RowOf(*state, index));
  }
  return tui::vbox(std::move(lines));
}
