#include "browser/browser_view.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/browser/browser_rows.h"
#include "tui/screen/screen.h"

namespace {

using browser_test::RowLabel;
using browser_test::ScreenHeight;
using browser_test::StateWithRows;

constexpr int kWidth = 30;

std::string TrimRight(std::string line) {
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

// Runs the view once and draws its element into a grid of `height` rows.
tui::Screen Draw(FileBrowserState& state, int height) {
  tui::Screen screen(kWidth, height);
  tui::Render(screen, RenderFileBrowser{&state}());
  return screen;
}

std::vector<std::string> TrimmedLines(const tui::Screen& screen) {
  std::vector<std::string> lines;
  for (const std::string& line : screen.Lines()) {
    lines.push_back(TrimRight(line));
  }
  return lines;
}

// Rows `first` .. `last` of StateWithRows, one per line.
std::vector<std::string> Labels(int first, int last) {
  std::vector<std::string> labels;
  for (int index = first; index <= last; ++index) {
    labels.push_back(RowLabel(index));
  }
  return labels;
}

bool LineInverted(const tui::Screen& screen, int y) {
  for (int x = 0; x < screen.dimx(); ++x) {
    if (!screen.At(x, y).inverted) {
      return false;
    }
  }
  return true;
}

int CountInvertedCells(const tui::Screen& screen) {
  int count = 0;
  for (int y = 0; y < screen.dimy(); ++y) {
    for (int x = 0; x < screen.dimx(); ++x) {
      count += screen.At(x, y).inverted ? 1 : 0;
    }
  }
  return count;
}

TEST(BrowserViewTest, ScrollsDownToASelectionBelowTheWindow) {
  ScreenHeight height(30);
  FileBrowserState state = StateWithRows(100);
  state.selected = 50;
  state.scroll_offset = 0;

  const tui::Screen screen = Draw(state, 21);

  EXPECT_EQ(state.scroll_offset, 30);
  EXPECT_EQ(TrimmedLines(screen), Labels(30, 50));
  EXPECT_TRUE(LineInverted(screen, 20));
  EXPECT_EQ(CountInvertedCells(screen), kWidth);
}

TEST(BrowserViewTest, ScrollsUpToASelectionAboveTheWindow) {
  ScreenHeight height(30);
  FileBrowserState state = StateWithRows(100);
  state.selected = 3;
  state.scroll_offset = 10;

  const tui::Screen screen = Draw(state, 21);

  EXPECT_EQ(state.scroll_offset, 3);
  EXPECT_EQ(TrimmedLines(screen).front(), RowLabel(3));
  EXPECT_TRUE(LineInverted(screen, 0));
}

TEST(BrowserViewTest, KeepsTheOffsetWhileTheSelectionIsVisible) {
  ScreenHeight height(30);
  FileBrowserState state = StateWithRows(100);
  state.selected = 40;
  state.scroll_offset = 25;

  const tui::Screen screen = Draw(state, 21);

  EXPECT_EQ(state.scroll_offset, 25);
  EXPECT_EQ(TrimmedLines(screen), Labels(25, 45));
  EXPECT_TRUE(LineInverted(screen, 15));
}

TEST(BrowserViewTest, SelectionOutsideTheListingHighlightsNothing) {
  ScreenHeight height(30);
  FileBrowserState state = StateWithRows(100);

  state.selected = -1;
  state.scroll_offset = 40;
  tui::Screen screen = Draw(state, 21);
  EXPECT_EQ(state.scroll_offset, 0);
  EXPECT_EQ(TrimmedLines(screen), Labels(0, 20));
  EXPECT_EQ(CountInvertedCells(screen), 0);

  state.selected = 100;
  screen = Draw(state, 21);
  EXPECT_EQ(state.scroll_offset, 79);
  EXPECT_EQ(TrimmedLines(screen), Labels(79, 99));
  EXPECT_EQ(CountInvertedCells(screen), 0);
}

TEST(BrowserViewTest, ShortListingIsDrawnWholeFromTheTop) {
  ScreenHeight height(0);  // No frame yet: 20 rows.
  FileBrowserState state = StateWithRows(5);
  state.selected = 4;
  state.scroll_offset = 7;

  const tui::Screen screen = Draw(state, 20);

  EXPECT_EQ(state.scroll_offset, 0);
  std::vector<std::string> expected = Labels(0, 4);
  expected.resize(20);
  EXPECT_EQ(TrimmedLines(screen), expected);
  EXPECT_TRUE(LineInverted(screen, 4));
}

TEST(BrowserViewTest, EmptyListingDrawsNothing) {
  ScreenHeight height(30);
  FileBrowserState state;
  state.selected = 0;
  state.scroll_offset = 3;

  const tui::Screen screen = Draw(state, 21);

  EXPECT_EQ(state.scroll_offset, 0);
  EXPECT_EQ(TrimmedLines(screen), std::vector<std::string>(21));
  EXPECT_EQ(CountInvertedCells(screen), 0);
}

TEST(BrowserViewTest, PlayingRowCarriesTheMarkerInvertedWithIt) {
  ScreenHeight height(30);
  FileBrowserState state = StateWithRows(3);
  state.playing_index = 1;
  state.selected = 1;

  for (const bool paused : {false, true}) {
    state.paused = paused;
    const tui::Screen screen = Draw(state, 21);
    const std::string marker = paused ? "⏸" : "♪♪♪";
    const tui::Color marker_color = paused ? tui::Color::Yellow : tui::Color::Green;
    const int label_width = static_cast<int>(RowLabel(1).size());

    EXPECT_EQ(TrimmedLines(screen)[1], RowLabel(1) + " " + marker);
    EXPECT_TRUE(LineInverted(screen, 1)) << "label, blank and marker all inverted";
    EXPECT_EQ(screen.At(label_width, 1).glyph, " ");
    const tui::Cell& first_marker_cell = screen.At(label_width + 1, 1);
    EXPECT_EQ(first_marker_cell.fg, marker_color) << marker;
    EXPECT_EQ(screen.At(0, 1).fg, tui::Color::Default);
    EXPECT_EQ(CountInvertedCells(screen), kWidth);
  }
}

TEST(BrowserViewTest, MarkerOnAnUnselectedRowIsNotInverted) {
  ScreenHeight height(30);
  FileBrowserState state = StateWithRows(3);
  state.playing_index = 2;
  state.selected = 0;

  const tui::Screen screen = Draw(state, 21);

  EXPECT_EQ(TrimmedLines(screen)[2], RowLabel(2) + " ♪♪♪");
  const int marker_x = static_cast<int>(RowLabel(2).size()) + 1;
  EXPECT_EQ(screen.At(marker_x, 2).fg, tui::Color::Green);
  EXPECT_FALSE(screen.At(marker_x, 2).inverted);
  EXPECT_TRUE(LineInverted(screen, 0));
  EXPECT_FALSE(LineInverted(screen, 2));
}

TEST(BrowserViewTest, OnlyRealFoldersAreBoldAndBlue) {
  ScreenHeight height(30);
  FileBrowserState state;
  state.entries = {{".. (parent)", "/", true},
                   {"[Folder] jazz", "/music/jazz", true},
                   {"track.mp3", "/music/track.mp3", false}};
  state.selected = -1;

  const tui::Screen screen = Draw(state, 21);

  EXPECT_EQ(TrimmedLines(screen)[0], ".. (parent)");
  EXPECT_EQ(TrimmedLines(screen)[1], "[Folder] jazz");
  EXPECT_EQ(TrimmedLines(screen)[2], "track.mp3");
  for (const int y : {0, 2}) {
    EXPECT_EQ(screen.At(0, y).fg, tui::Color::Default) << "row " << y;
    EXPECT_FALSE(screen.At(0, y).bold) << "row " << y;
  }
  EXPECT_EQ(screen.At(0, 1).fg, tui::Color::Blue);
  EXPECT_TRUE(screen.At(0, 1).bold);
  EXPECT_EQ(CountInvertedCells(screen), 0);
}

TEST(BrowserViewTest, OneViewHandsBackItsElementUntilAVisibleRowChanges) {
  ScreenHeight height(12);  // 3 rows.
  FileBrowserState state = StateWithRows(10);
  const RenderFileBrowser view{&state};
  const tui::Element first = view();
  EXPECT_EQ(view(), first);
  state.entries[5].label = "not visible";
  EXPECT_EQ(view(), first);

  tui::Element last = first;
  const std::vector<std::function<void()>> changes = {
      [&] { state.entries[1].label = "renamed"; },
      [&] { state.playing_index = 2; },
      [&] { state.paused = true; },
      [&] { state.selected = 1; },
      [&] { state.selected = 3; },  // Scrolls by one row.
      [&] { g_screen_height = 13; },
  };
  for (size_t change = 0; change < changes.size(); ++change) {
    changes[change]();
    const tui::Element element = view();
    EXPECT_NE(element, last) << "change " << change;
    EXPECT_EQ(view(), element) << "change " << change;
    last = element;
  }
  tui::Screen screen(kWidth, 4);
  tui::Render(screen, last);
  EXPECT_EQ(TrimmedLines(screen),
            (std::vector<std::string>{"renamed", "Row 002 ⏸", "Row 003", "Row 004"}));
}

TEST(BrowserViewTest, NeverReadsPastTheListingWithAStaleOffset) {
  ScreenHeight height(12);  // 3 rows.
  FileBrowserState state = StateWithRows(4);
  state.selected = 2;
  state.scroll_offset = 500;

  const tui::Screen screen = Draw(state, 3);

  EXPECT_EQ(state.scroll_offset, 1);
  EXPECT_EQ(TrimmedLines(screen), Labels(1, 3));
}

}  // namespace
