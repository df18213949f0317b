#include <gtest/gtest.h>

#include "tests/tui/render_lines.h"
#include "tui/dom/elements.h"

namespace {

using tui::Color;
using tui::text;
using tui_test::RenderToScreen;

TEST(StyleTest, BoldDimAndInvertedMarkEveryCellOfTheBox) {
  const tui::Screen screen = RenderToScreen(
      tui::vbox({text("a") | tui::bold, text("b") | tui::dim, text("c") | tui::inverted}), 3, 3);
  EXPECT_TRUE(screen.At(2, 0).bold);
  EXPECT_FALSE(screen.At(2, 0).dim);
  EXPECT_TRUE(screen.At(2, 1).dim);
  EXPECT_TRUE(screen.At(2, 2).inverted);
  EXPECT_FALSE(screen.At(0, 2).bold);
}

TEST(StyleTest, InvertedTwiceIsNotInverted) {
  const tui::Screen screen =
      RenderToScreen(tui::hbox({text("a") | tui::inverted, text("b")}) | tui::inverted, 2, 1);
  EXPECT_FALSE(screen.At(0, 0).inverted);
  EXPECT_TRUE(screen.At(1, 0).inverted);
}

TEST(StyleTest, InnerColoursWinOverOuterOnes) {
  const tui::Element row =
      tui::hbox({text("a") | tui::color(Color::Red) | tui::bgcolor(Color::Green),
                 text("b") | tui::color(Color::Default), text("c")}) |
      tui::color(Color::Blue) | tui::bgcolor(Color::Yellow);
  const tui::Screen screen = RenderToScreen(row, 3, 1);
  EXPECT_EQ(screen.At(0, 0).fg, Color(Color::Red));
  EXPECT_EQ(screen.At(0, 0).bg, Color(Color::Green));
  EXPECT_TRUE(screen.At(1, 0).fg.IsDefault());
  EXPECT_EQ(screen.At(1, 0).bg, Color(Color::Yellow));
  EXPECT_EQ(screen.At(2, 0).fg, Color(Color::Blue));
  EXPECT_EQ(Color(Color::White).Index(), 15);
  EXPECT_EQ(Color(Color::Black).Index(), 0);
}

TEST(StyleTest, DecoratorsCombineWithFunctionsAndWithEachOther) {
  // A function on the left of a decorator, as in `bold | color(...)`.
  const tui::Decorator bold_blue = tui::bold | tui::color(Color::Blue);
  tui::Element label = text("dir");
  label |= bold_blue;
  label |= tui::bold | tui::color(Color::Blue);
  const tui::Screen screen = RenderToScreen(label, 3, 1);
  EXPECT_TRUE(screen.At(2, 0).bold);
  EXPECT_EQ(screen.At(2, 0).fg, Color(Color::Blue));

  // `a | b` applies a first, so a is the inner one and its colour wins.
  const tui::Screen composed =
      RenderToScreen(text("x") | (tui::color(Color::Red) | tui::color(Color::Green)), 1, 1);
  EXPECT_EQ(composed.At(0, 0).fg, Color(Color::Red));

  // An empty decorator changes nothing.
  EXPECT_EQ(RenderToScreen(text("y") | tui::Decorator{}, 1, 1).Lines().front(), "y");
}

TEST(StyleTest, StylesStayInsideTheirBox) {
  const tui::Screen screen =
      RenderToScreen(tui::hbox({text("ab") | tui::bgcolor(Color::Magenta), text("c")}), 4, 1);
  EXPECT_EQ(screen.At(1, 0).bg, Color(Color::Magenta));
  EXPECT_TRUE(screen.At(2, 0).bg.IsDefault());
  EXPECT_TRUE(screen.At(3, 0).bg.IsDefault());
}

}  // namespace
