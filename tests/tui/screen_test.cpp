#include "tui/screen/screen.h"

#include <gtest/gtest.h>

namespace {

TEST(ScreenTest, StartsBlankWithDefaultStyle) {
  const tui::Screen screen(3, 2);
  EXPECT_EQ(screen.dimx(), 3);
  EXPECT_EQ(screen.dimy(), 2);
  EXPECT_EQ(screen.Lines(), (std::vector<std::string>{"   ", "   "}));
  const tui::Cell& cell = screen.At(2, 1);
  EXPECT_EQ(cell, tui::Cell{});
  EXPECT_TRUE(cell.fg.IsDefault());
  EXPECT_EQ(cell.bg.Index(), -1);
}

TEST(ScreenTest, LinesSkipContinuationCellsAndToStringJoinsRows) {
  tui::Screen screen(4, 2);
  screen.At(0, 0).glyph = "中";
  screen.At(1, 0).glyph = "";
  screen.At(2, 0).glyph = "a";
  screen.At(3, 1).glyph = "z";
  EXPECT_EQ(screen.Lines(), (std::vector<std::string>{"中a ", "   z"}));
  EXPECT_EQ(screen.ToString(), "中a \n   z");
}

TEST(ScreenTest, ClearAndResizeGiveBlankCells) {
  tui::Screen screen(2, 2);
  screen.At(1, 1) = {"x", true, true, true, tui::Color::Red, tui::Color::Blue};
  screen.SetLineMask(1, 1, 3);
  screen.Clear();
  EXPECT_EQ(screen.At(1, 1), tui::Cell{});
  EXPECT_EQ(screen.LineMaskAt(1, 1), 0);

  screen.At(0, 0).glyph = "y";
  screen.Resize(3, 1);
  EXPECT_EQ(screen.Lines(), (std::vector<std::string>{"   "}));
  EXPECT_EQ(screen.Bounds(), (tui::Box{0, 2, 0, 0}));
}

// The painter compares cells and rows byte for byte: a glyph written over a longer one must
// leave nothing of it behind.
TEST(ScreenTest, CellsAndRowsAreEqualByteForByteWhateverTheyHeldBefore) {
  tui::Screen drawn(2, 1);
  tui::Screen fresh(2, 1);
  drawn.At(0, 0).glyph = "e\u0301\u0302";
  drawn.At(0, 0).glyph.assign("e");
  drawn.At(1, 0).glyph = "\u2500";
  drawn.At(1, 0).glyph.clear();
  fresh.At(0, 0).glyph = "e";
  fresh.At(1, 0).glyph = "";
  EXPECT_EQ(drawn.At(0, 0), fresh.At(0, 0));
  EXPECT_TRUE(drawn.SameRow(fresh, 0));
  fresh.At(1, 0).bold = true;
  EXPECT_FALSE(drawn.SameRow(fresh, 0));

  const std::string pile(40, 'x');
  drawn.At(0, 0).glyph = pile;
  EXPECT_EQ(std::string_view(drawn.At(0, 0).glyph), pile.substr(0, tui::Glyph::kMaxBytes));
}

TEST(ScreenTest, NegativeSizeIsEmpty) {
  const tui::Screen screen(-4, 3);
  EXPECT_EQ(screen.dimx(), 0);
  EXPECT_TRUE(screen.Bounds().IsEmpty());
  EXPECT_FALSE(screen.Contains(0, 0));
  EXPECT_EQ(screen.ToString(), "\n\n");
  tui::Screen cleared(0, 3);
  cleared.Clear();
  EXPECT_TRUE(cleared.SameRow(screen, 2));
}

}  // namespace
