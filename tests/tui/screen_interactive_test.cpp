#include "tui/component/screen_interactive.h"

#include <gtest/gtest.h>

namespace {

TEST(ScreenInteractiveTest, FixedSizeKeepsItsSize) {
  tui::ScreenInteractive screen = tui::ScreenInteractive::FixedSize(40, 12);
  EXPECT_EQ(screen.dimx(), 40);
  EXPECT_EQ(screen.dimy(), 12);
  tui::ScreenInteractive moved = std::move(screen);
  EXPECT_EQ(moved.dimx(), 40);
}

TEST(ScreenInteractiveTest, ExitClosureWorksWithoutALoop) {
  tui::ScreenInteractive screen = tui::ScreenInteractive::FixedSize(10, 5);
  EXPECT_FALSE(screen.ExitRequested());
  const std::function<void()> exit = screen.ExitLoopClosure();
  exit();
  EXPECT_TRUE(screen.ExitRequested());
}

TEST(ScreenInteractiveTest, FullscreenHasAUsableSizeEvenWithoutATerminal) {
  const tui::ScreenInteractive screen = tui::ScreenInteractive::Fullscreen();
  EXPECT_GT(screen.dimx(), 0);
  EXPECT_GT(screen.dimy(), 0);
}

}  // namespace
