#include "browser/browser_view.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "browser/directory_listing.h"

namespace {

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

enum class Marker { kNone, kPlaying, kPaused };

// What one visible row shows: drawn from this alone, so that equal rows draw alike.
struct ListingRow {
  std::string label;
  bool is_directory = false;
  Marker marker = Marker::kNone;
  bool selected = false;
};

Marker MarkerOf(const FileBrowserState& state, int index) {
  if (index != state.playing_index) {
    return Marker::kNone;
  }
  return state.paused ? Marker::kPaused : Marker::kPlaying;
}

ListingRow ReadRow(const FileBrowserState& state, int index) {
  const FileEntry& entry = state.entries[static_cast<size_t>(index)];
  return {entry.label, entry.is_directory, MarkerOf(state, index), index == state.selected};
}

// Compared where they stand, without copying: this runs on every pass.
bool ShowsRows(const std::vector<ListingRow>& shown, const FileBrowserState& state, int first,
               int last) {
  if (shown.size() != static_cast<size_t>(std::max(last - first, 0))) {
    return false;
  }
  for (int index = first; index < last; ++index) {
    const ListingRow& row = shown[static_cast<size_t>(index - first)];
    const FileEntry& entry = state.entries[static_cast<size_t>(index)];
    if (row.label != entry.label || row.is_directory != entry.is_directory ||
        row.marker != MarkerOf(state, index) || row.selected != (index == state.selected)) {
      return false;
    }
  }
  return true;
}

tui::Element LabelOf(const ListingRow& row) {
  tui::Element label = tui::text(row.label);
  if (row.is_directory && row.label != kParentLabel) {
    label |= tui::bold | tui::color(tui::Color::Blue);
  } else {
    label |= tui::color(tui::Color::Default);
  }
  return label;
}

tui::Element PlayingMarker(Marker marker) {
  if (marker == Marker::kPaused) {
    return tui::text(kPausedMarker) | tui::color(tui::Color::Yellow);
  }
  return tui::text(kPlayingMarker) | tui::color(tui::Color::Green);
}

tui::Element RowOf(const ListingRow& row) {
  tui::Element element = LabelOf(row);
  if (row.marker != Marker::kNone) {
    element = tui::hbox({element, tui::text(" "), PlayingMarker(row.marker)});
  }
  // Last, so that on the playing row the blank and the marker are inverted too.
  if (row.selected) {
    element |= tui::inverted;
  }
  return element;
}

tui::Element ListingOf(const std::vector<ListingRow>& rows) {
  tui::Elements lines;
  lines.reserve(rows.size());
  for (const ListingRow& row : rows) {
    lines.push_back(RowOf(row));
  }
  return tui::vbox(std::move(lines));
}

}  // namespace

struct ListingMemo {
  std::vector<ListingRow> shown;
  tui::Element element;
};

std::shared_ptr<ListingMemo> MakeListingMemo() { return std::make_shared<ListingMemo>(); }

tui::Element RenderFileBrowser::operator()() const {
  const int rows = VisibleRowCount();
  const int count = static_cast<int>(state->entries.size());
  state->scroll_offset =
      ClampScroll(OffsetShowingSelection(state->selected, state->scroll_offset, rows), count, rows);

  const int first = state->scroll_offset;
  const int last = std::min(first + rows, count);
  if (memo->element == nullptr || !ShowsRows(memo->shown, *state, first, last)) {
    memo->shown.clear();
    for (int index = first; index < last; ++index) {
      memo->shown.push_back(ReadRow(*state, index));
    }
    memo->element = ListingOf(memo->shown);
  }
  return memo->element;
}
