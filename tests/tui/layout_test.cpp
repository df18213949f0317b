#include <gtest/gtest.h>

#include "tests/tui/render_lines.h"
#include "tui/dom/box_layout.h"
#include "tui/dom/elements.h"

namespace {

using tui::text;
using tui_test::RenderLines;
using tui_test::RenderToScreen;
using Lines = std::vector<std::string>;

TEST(DistributeSpaceTest, GrowersShareTheSpareSpaceInOrder) {
  const std::vector<tui::FlexItem> items = {
      {1, false, false, 0}, {1, true, false, 1}, {1, true, false, 1}};
  // 7 spare cells: 7 * 1 / 2 = 3 to the first grower, the rounding to the last.
  EXPECT_EQ(tui::DistributeSpace(items, 10), (std::vector<int>{1, 4, 5}));
  EXPECT_EQ(tui::DistributeSpace({{2, false, false, 0}}, 5), (std::vector<int>{2}));
}

TEST(DistributeSpaceTest, ShortSpaceComesFromShrinkersFirstThenFromEveryone) {
  // Shrinkers give up in proportion to their minimum.
  EXPECT_EQ(
      tui::DistributeSpace({{4, false, true, 0}, {2, false, true, 0}, {3, false, false, 0}}, 6),
      (std::vector<int>{2, 1, 3}));
  // Not enough: shrinkers get nothing, the others cover the box exactly.
  EXPECT_EQ(
      tui::DistributeSpace({{2, false, true, 0}, {4, false, false, 0}, {4, false, false, 0}}, 4),
      (std::vector<int>{0, 2, 2}));
  // With one cell too few for nine rows, the last one goes.
  const std::vector<tui::FlexItem> rows(9, {1, false, false, 0});
  const std::vector<int> sizes = tui::DistributeSpace(rows, 8);
  EXPECT_EQ(sizes.back(), 0);
  EXPECT_EQ(sizes.front(), 1);
  EXPECT_EQ(tui::DistributeSpace(rows, -3), std::vector<int>(9, 0));
}

TEST(BoxLayoutTest, HboxSharesSpareWidthAmongFlexChildren) {
  EXPECT_EQ(
      RenderLines(tui::hbox({text("a"), text("b") | tui::flex, text("c") | tui::flex}), 10, 1),
      (Lines{"ab   c    "}));
  // Without growers, what is left stays blank at the end.
  EXPECT_EQ(RenderLines(tui::hbox({text("ab"), text("c")}), 5, 1), (Lines{"abc  "}));
}

TEST(BoxLayoutTest, VboxStacksRowsAndGivesEachTheFullWidth) {
  const tui::Element column =
      tui::vbox({text("a"), text("b") | tui::flex, text("c") | tui::inverted});
  const tui::Screen screen = RenderToScreen(column, 3, 5);
  EXPECT_EQ(screen.Lines(), (Lines{"a  ", "b  ", "   ", "   ", "c  "}));
  EXPECT_TRUE(screen.At(2, 4).inverted);
  EXPECT_FALSE(screen.At(2, 3).inverted);
}

TEST(BoxLayoutTest, ContainersDoNotPassFlexUpward) {
  const tui::Element inner = tui::hbox({text("x") | tui::flex});
  EXPECT_EQ(RenderLines(tui::hbox({inner, text("|")}), 5, 1), (Lines{"x|   "}));
  EXPECT_EQ(RenderLines(tui::hbox({inner | tui::flex, text("|")}), 5, 1), (Lines{"x   |"}));
}

TEST(BoxLayoutTest, ShortSpaceShrinksFlexChildrenFirst) {
  EXPECT_EQ(RenderLines(tui::hbox({text("aaaa") | tui::flex, text("bbbb")}), 6, 1),
            (Lines{"aabbbb"}));
  EXPECT_EQ(RenderLines(tui::hbox({text("aa") | tui::flex, text("bbbb"), text("cccc")}), 4, 1),
            (Lines{"bbcc"}));
  EXPECT_EQ(RenderLines(tui::vbox({text("a"), text("b"), text("c")}), 1, 2), (Lines{"a", "b"}));
}

TEST(BoxLayoutTest, CenterPlacesTheChildInTheMiddle) {
  EXPECT_EQ(RenderLines(tui::center(text("ab")), 7, 3), (Lines{"       ", "  ab   ", "       "}));
  // Inside a vbox it keeps its minimum height but spans the width.
  EXPECT_EQ(RenderLines(tui::vbox({text("a") | tui::center, text("b")}), 5, 3),
            (Lines{"  a  ", "b    ", "     "}));
  // Too little room: the child takes what there is and is cut.
  EXPECT_EQ(RenderLines(tui::center(text("abcdef")), 3, 1), (Lines{"abc"}));
}

TEST(BoxLayoutTest, CenterCoversItsAreaOnlyWhenDecoratedOutside) {
  const tui::Screen outside =
      RenderToScreen(tui::center(text("x")) | tui::bgcolor(tui::Color::Red), 3, 3);
  const tui::Screen inside =
      RenderToScreen(tui::center(text("x") | tui::bgcolor(tui::Color::Red)), 3, 3);
  EXPECT_EQ(outside.At(0, 0).bg, tui::Color(tui::Color::Red));
  EXPECT_EQ(outside.At(2, 2).bg, tui::Color(tui::Color::Red));
  EXPECT_EQ(inside.At(1, 1).bg, tui::Color(tui::Color::Red));
  EXPECT_TRUE(inside.At(0, 0).bg.IsDefault());
}

TEST(BoxLayoutTest, SizeSetsTheMinimumAndStopsFlex) {
  const auto row = [](tui::Element sized) {
    return RenderLines(tui::hbox({std::move(sized), text("X")}), 8, 1).front();
  };
  EXPECT_EQ(row(text("abcdef") | tui::size(tui::WIDTH, tui::LESS_THAN, 3)), "abcX    ");
  EXPECT_EQ(row(text("ab") | tui::size(tui::WIDTH, tui::LESS_THAN, 3)), "abX     ");
  EXPECT_EQ(row(text("ab") | tui::size(tui::WIDTH, tui::EQUAL, 4)), "ab  X   ");
  EXPECT_EQ(row(text("abcdef") | tui::size(tui::WIDTH, tui::EQUAL, 4)), "abcdX   ");
  EXPECT_EQ(row(text("ab") | tui::size(tui::WIDTH, tui::GREATER_THAN, 5)), "ab   X  ");
  EXPECT_EQ(row(text("abc") | tui::size(tui::WIDTH, tui::GREATER_THAN, 1)), "abcX    ");
  EXPECT_EQ(row(text("a") | tui::flex | tui::size(tui::WIDTH, tui::LESS_THAN, 3)), "aX      ");
  // A negative limit counts as zero.
  EXPECT_EQ(row(text("ab") | tui::size(tui::WIDTH, tui::EQUAL, -2)), "X       ");
}

TEST(BoxLayoutTest, SizeCutsTheBoxEvenAtTheRoot) {
  const tui::Screen screen = RenderToScreen(
      text("abcdef") | tui::bgcolor(tui::Color::Blue) | tui::size(tui::WIDTH, tui::LESS_THAN, 2), 5,
      1);
  EXPECT_EQ(screen.Lines(), (Lines{"ab   "}));
  EXPECT_EQ(screen.At(1, 0).bg, tui::Color(tui::Color::Blue));
  EXPECT_TRUE(screen.At(2, 0).bg.IsDefault());
  EXPECT_EQ(RenderLines(tui::vbox({text("a"), text("b"), text("c")}) |
                            tui::size(tui::HEIGHT, tui::LESS_THAN, 2),
                        1, 3),
            (Lines{"a", "b", " "}));
}

TEST(BoxLayoutTest, LimitedWindowKeepsItsFrameAndDropsItsLastRows) {
  tui::Elements rows;
  for (const char* label : {"1", "2", "3", "4", "5", "6", "7", "8", "9"}) {
    rows.push_back(text(label));
  }
  const tui::Element window = tui::vbox(rows) | tui::border |
                              tui::size(tui::HEIGHT, tui::LESS_THAN, 10) |
                              tui::size(tui::WIDTH, tui::LESS_THAN, 10);
  const Lines lines = RenderLines(tui::center(window), 5, 12);
  EXPECT_EQ(lines[0], "     ");
  EXPECT_EQ(lines[1], " ╭─╮ ");
  EXPECT_EQ(lines[2], " │1│ ");
  EXPECT_EQ(lines[9], " │8│ ");
  EXPECT_EQ(lines[10], " ╰─╯ ");
  EXPECT_EQ(lines[11], "     ");
}

TEST(BoxLayoutTest, DboxDrawsLaterLayersOverEarlierOnes) {
  EXPECT_EQ(RenderLines(tui::dbox({text("abcd"), text("xy")}), 4, 1), (Lines{"xycd"}));
  const tui::Screen screen = RenderToScreen(
      tui::dbox({text("abcd") | tui::bold, text("x") | tui::bgcolor(tui::Color::Red)}), 4, 1);
  EXPECT_EQ(screen.Lines(), (Lines{"xbcd"}));
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(screen.At(x, 0).bg, tui::Color(tui::Color::Red));
    EXPECT_TRUE(screen.At(x, 0).bold);
  }
  tui::Element measured = tui::dbox({text("abc"), tui::vbox({text("a"), text("b")})});
  measured->ComputeRequirement();
  EXPECT_EQ(measured->requirement().min_x, 3);
  EXPECT_EQ(measured->requirement().min_y, 2);
}

TEST(BoxLayoutTest, ClearUnderHidesTheLayersBelowInItsBox) {
  const tui::Element blank_three = text("y") | tui::size(tui::WIDTH, tui::EQUAL, 3);
  const tui::Screen screen =
      RenderToScreen(tui::dbox({text("abcdef") | tui::bold,
                                tui::hbox({text("x"), blank_three | tui::clear_under})}),
                     6, 1);
  EXPECT_EQ(screen.Lines(), (Lines{"xy  ef"}));
  for (int x = 1; x < 4; ++x) {
    EXPECT_FALSE(screen.At(x, 0).bold) << x;
  }
  EXPECT_TRUE(screen.At(4, 0).bold);

  // A wide glyph that the cleared box cuts in half goes whole.
  const tui::Element blank_two = text("") | tui::size(tui::WIDTH, tui::EQUAL, 2);
  EXPECT_EQ(RenderLines(tui::dbox({text("\u97f3\u697d\u97f3"),
                                   tui::hbox({text("x"), blank_two | tui::clear_under})}),
                        6, 1),
            (Lines{"x   \u97f3"}));
}

TEST(BoxLayoutTest, ContentLargerThanTheScreenIsCut) {
  const tui::Element big =
      tui::border(tui::vbox({text("0123456789"), tui::separator(),
                             tui::hbox({text("abc"), tui::gauge(0.5F)}), text("last")}));
  EXPECT_EQ(RenderLines(big, 4, 3), (Lines{"╭──╮", "│01│", "╰──╯"}));
  EXPECT_EQ(RenderLines(big, 5, 5), (Lines{"╭───╮", "│012│", "├───┤", "│abc│", "╰───╯"}));
  // No room for a frame: the child's box is empty too.
  EXPECT_EQ(RenderLines(big, 1, 1), (Lines{" "}));
}

TEST(BoxLayoutTest, TinyAndEmptyScreensNeverBreak) {
  const tui::Element main_screen = tui::dbox(
      {tui::border(
           tui::vbox({text("Now playing") | tui::center, tui::separator(),
                      tui::hbox({text("00:00"), tui::gauge(0.3F) | tui::flex, text("01:00")}),
                      tui::vbox({text("中文 row") | tui::inverted}) | tui::flex})),
       tui::center(tui::border(text("overlay")) | tui::size(tui::HEIGHT, tui::LESS_THAN, 2)) |
           tui::bgcolor(tui::Color::Black)});
  for (int width = 0; width <= 12; ++width) {
    for (int height = 0; height <= 8; ++height) {
      const tui::Screen screen = RenderToScreen(main_screen, width, height);
      EXPECT_EQ(static_cast<int>(screen.Lines().size()), height);
    }
  }
  EXPECT_EQ(RenderLines(nullptr, 2, 1), (Lines{"  "}));
  EXPECT_EQ(RenderLines(tui::hbox({nullptr, text("a")}) | tui::border, 3, 3)[1], "│a│");
}

}  // namespace
