#include <gtest/gtest.h>

#include "tests/tui/render_lines.h"
#include "tui/dom/elements.h"

namespace {

using tui::separator;
using tui::text;
using tui_test::RenderLines;
using Lines = std::vector<std::string>;

TEST(BorderTest, FramesTheChildWithRoundedCorners) {
  EXPECT_EQ(RenderLines(tui::border(text("ab")), 4, 3), (Lines{"╭──╮", "│ab│", "╰──╯"}));
  // At the root it takes the whole screen.
  EXPECT_EQ(RenderLines(tui::border(text("ab")), 5, 4),
            (Lines{"╭───╮", "│ab │", "│   │", "╰───╯"}));
}

TEST(BorderTest, KeepsTheChildsFlex) {
  EXPECT_EQ(RenderLines(tui::hbox({tui::border(text("a") | tui::flex), text("z")}), 6, 3),
            (Lines{"╭───╮z", "│a  │ ", "╰───╯ "}));
}

TEST(BorderTest, BoxesSmallerThanTwoCellsGetNoFrame) {
  EXPECT_EQ(RenderLines(tui::border(text("abc")), 1, 3), (Lines{" ", " ", " "}));
  EXPECT_EQ(RenderLines(tui::border(text("abc")), 4, 1), (Lines{"    "}));
  EXPECT_EQ(RenderLines(tui::border(text("abc")), 2, 2), (Lines{"╭╮", "╰╯"}));
}

TEST(BorderTest, SeparatorIsARuleAcrossItsBox) {
  EXPECT_EQ(RenderLines(separator(), 1, 1), (Lines{"│"}));
  EXPECT_EQ(RenderLines(tui::vbox({text("ab"), separator(), text("c")}), 3, 3),
            (Lines{"ab ", "───", "c  "}));
  EXPECT_EQ(
      RenderLines(tui::hbox({tui::vbox({text("a"), text("b")}), separator(), text("c")}), 4, 2),
      (Lines{"a│c ", "b│  "}));
}

TEST(BorderTest, SeparatorsJoinTheBorderTheyMeet) {
  EXPECT_EQ(RenderLines(tui::border(tui::vbox({text("a"), separator(), text("b")})), 4, 5),
            (Lines{"╭──╮", "│a │", "├──┤", "│b │", "╰──╯"}));
  EXPECT_EQ(RenderLines(tui::border(tui::hbox({text("a"), separator(), text("b")})), 5, 3),
            (Lines{"╭─┬─╮", "│a│b│", "╰─┴─╯"}));
}

TEST(BorderTest, CrossingSeparatorsMeetInACross) {
  const tui::Element grid = tui::border(tui::vbox({
      tui::hbox({text("a"), separator(), text("b")}),
      separator(),
      tui::hbox({text("c"), separator(), text("d")}),
  }));
  EXPECT_EQ(RenderLines(grid, 5, 5), (Lines{"╭─┬─╮", "│a│b│", "├─┼─┤", "│c│d│", "╰─┴─╯"}));
}

TEST(BorderTest, NeighbouringFramesStaySeparate) {
  EXPECT_EQ(RenderLines(tui::hbox({tui::border(text("a")), tui::border(text("b"))}), 6, 3),
            (Lines{"╭─╮╭─╮", "│a││b│", "╰─╯╰─╯"}));
  EXPECT_EQ(
      RenderLines(tui::vbox({tui::border(text("a")), separator(), tui::border(text("b"))}), 3, 7),
      (Lines{"╭─╮", "│a│", "╰─╯", "───", "╭─╮", "│b│", "╰─╯"}));
}

TEST(BorderTest, UpperLayerFrameDoesNotJoinLinesBeneathIt) {
  const tui::Element lower = tui::vbox({text("     "), separator(), text("     ")});
  const tui::Element layer = tui::center(tui::border(text("x")));
  EXPECT_EQ(RenderLines(tui::dbox({lower, layer}), 5, 3), (Lines{" ╭─╮ ", "─│x│─", " ╰─╯ "}));
  // The lower layer's own joins are kept.
  const tui::Element framed = tui::border(tui::vbox({text("   "), separator(), text("   ")}));
  EXPECT_EQ(RenderLines(tui::dbox({framed, text("")}), 5, 5)[2], "├───┤");
}

TEST(BorderTest, TextThatLooksLikeLinesIsLeftAlone) {
  EXPECT_EQ(RenderLines(tui::border(text("─")), 3, 3)[1], "│─│");
}

}  // namespace
