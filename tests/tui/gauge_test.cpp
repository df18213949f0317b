#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "tests/tui/render_lines.h"
#include "tui/dom/elements.h"

namespace {

using tui_test::RenderLines;

std::string Bar(float progress, int width = 10) {
  return RenderLines(tui::gauge(progress), width, 1).front();
}

std::string Repeat(const std::string& glyph, int count) {
  std::string out;
  for (int index = 0; index < count; ++index) {
    out += glyph;
  }
  return out;
}

TEST(GaugeTest, FillsInProportion) {
  EXPECT_EQ(Bar(0.0F), Repeat(" ", 10));
  EXPECT_EQ(Bar(0.5F), Repeat("█", 5) + Repeat(" ", 5));
  EXPECT_EQ(Bar(1.0F), Repeat("█", 10));
}

TEST(GaugeTest, ShowsTheRemainderInEighths) {
  EXPECT_EQ(Bar(0.55F), Repeat("█", 5) + "▌" + Repeat(" ", 4));
  EXPECT_EQ(Bar(0.02F), "▏" + Repeat(" ", 9));
  // Below one eighth of a cell nothing shows.
  EXPECT_EQ(Bar(0.01F), Repeat(" ", 10));
  EXPECT_EQ(Bar(0.99F), Repeat("█", 9) + "▉");
}

TEST(GaugeTest, ClampsOutOfRangeAndNan) {
  EXPECT_EQ(Bar(1.5F), Repeat("█", 10));
  EXPECT_EQ(Bar(-0.5F), Repeat(" ", 10));
  EXPECT_EQ(Bar(std::numeric_limits<float>::quiet_NaN()), Repeat(" ", 10));
  EXPECT_EQ(Bar(std::numeric_limits<float>::infinity()), Repeat("█", 10));
  EXPECT_EQ(Bar(-std::numeric_limits<float>::infinity()), Repeat(" ", 10));
}

TEST(GaugeTest, TwoProgressValuesDrawAlikeExactlyWhenTheirFillsAreEqual) {
  EXPECT_EQ(tui::GaugeFillAt(0.55F, 10), (tui::GaugeFill{5, 4}));
  EXPECT_EQ(tui::GaugeFillAt(2.0F, 10), (tui::GaugeFill{10, 0}));
  for (const int width : {1, 7, 68}) {
    tui::GaugeFill last_fill{-1, -1};
    std::string last_bar;
    for (int step = 0; step <= 2000; ++step) {
      const float progress = static_cast<float>(step) / 2000.0F;
      const tui::GaugeFill fill = tui::GaugeFillAt(progress, width);
      const std::string bar = Bar(progress, width);
      ASSERT_EQ(fill == last_fill, bar == last_bar) << "width " << width << ", " << progress;
      last_fill = fill;
      last_bar = bar;
    }
  }
}

TEST(GaugeTest, TakesTheWidthLeftBetweenItsNeighbours) {
  const tui::Element row =
      tui::hbox({tui::text("00:30"), tui::gauge(0.5F) | tui::flex, tui::text("01:00")});
  EXPECT_EQ(RenderLines(row, 20, 1).front(), "00:30█████     01:00");
  // Short of room, the gauge gives way before the times.
  EXPECT_EQ(RenderLines(row, 10, 1).front(), "00:3001:00");
  // Only its first row is drawn.
  EXPECT_EQ(RenderLines(tui::gauge(1.0F), 2, 2), (std::vector<std::string>{"██", "  "}));
}

}  // namespace
