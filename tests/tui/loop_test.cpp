#include "tui/component/loop.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tui/component/component.h"
#include "tui/component/screen_interactive.h"
#include "tui/dom/elements.h"

namespace {

using tui::Event;

// A fixed-size screen with a Loop over it, recording what reaches the root.
class LoopTest : public testing::Test {
 protected:
  LoopTest()
      : screen_(tui::ScreenInteractive::FixedSize(12, 3)),
        root_(tui::Renderer([this] {
                ++renders_;
                return tui::text("n=" + std::to_string(seen_.size()) + " " +
                                 std::to_string(screen_.dimx()) + "x" +
                                 std::to_string(screen_.dimy()));
              }) |
              tui::CatchEvent([this](Event event) {
                seen_.push_back(event.input());
                if (event == Event::Escape) {
                  screen_.ExitLoopClosure()();
                }
                return true;
              })),
        loop_(&screen_, root_) {}

  tui::ScreenInteractive screen_;
  std::vector<std::string> seen_;
  int renders_ = 0;
  tui::Component root_;
  tui::Loop loop_;
};

TEST_F(LoopTest, RunOnceDispatchesPostedEventsInOrderThenDraws) {
  screen_.PostEvent(Event::Character('a'));
  screen_.PostEvent(Event::Custom);
  screen_.PostEvent(Event::ArrowUp);
  EXPECT_EQ(renders_, 0);
  loop_.RunOnce();
  EXPECT_EQ(seen_, (std::vector<std::string>{"a", std::string(1, '\0'), "\x1b[A"}));
  EXPECT_EQ(renders_, 1);
  EXPECT_EQ(screen_.LastFrame().Lines(),
            (std::vector<std::string>{"n=3 12x3    ", "            ", "            "}));
  // Nothing pending: nothing dispatched, one more frame.
  loop_.RunOnce();
  EXPECT_EQ(seen_.size(), 3U);
  EXPECT_EQ(renders_, 2);
}

TEST_F(LoopTest, QuitTakesEffectAtTheNextRunOnceAndStopsTheRest) {
  screen_.PostEvent(Event::Character('a'));
  screen_.PostEvent(Event::Escape);
  screen_.PostEvent(Event::Return);
  EXPECT_FALSE(loop_.HasQuitted());
  loop_.RunOnce();
  EXPECT_TRUE(loop_.HasQuitted());
  EXPECT_EQ(seen_, (std::vector<std::string>{"a", "\x1b"}));
  // No frame for a closing program, and nothing more happens.
  EXPECT_EQ(renders_, 0);
  screen_.PostEvent(Event::Character('b'));
  loop_.RunOnce();
  EXPECT_EQ(seen_.size(), 2U);
}

TEST_F(LoopTest, ExitClosureCalledOutsideTheLoopIsSeenByTheNextRunOnce) {
  loop_.RunOnce();
  screen_.ExitLoopClosure()();
  EXPECT_TRUE(screen_.ExitRequested());
  EXPECT_FALSE(loop_.HasQuitted());
  loop_.RunOnce();
  EXPECT_TRUE(loop_.HasQuitted());
}

TEST_F(LoopTest, OneLoopPerScreen) {
  EXPECT_THROW(tui::Loop(&screen_, root_), std::logic_error);
  EXPECT_THROW(tui::Loop(nullptr, root_), std::invalid_argument);
}

// Draws an "x" in its first cell and counts how often it is drawn.
class CountingNode : public tui::Node {
 public:
  explicit CountingNode(int& draws) : draws_(draws) {}

  void Render(tui::Screen& screen) override {
    ++draws_;
    screen.At(box().x_min, box().y_min).glyph = "x";
  }

 private:
  int& draws_;
};

TEST(LoopRedrawTest, AnElementHandedBackAgainIsNotDrawnAgain) {
  tui::ScreenInteractive screen = tui::ScreenInteractive::FixedSize(3, 1);
  int draws = 0;
  int renders = 0;
  tui::Element shown = std::make_shared<CountingNode>(draws);
  const tui::Component root = tui::Renderer([&] {
    ++renders;
    return shown;
  });
  tui::Loop loop(&screen, root);
  for (int pass = 0; pass < 3; ++pass) {
    screen.PostEvent(Event::Custom);
    loop.RunOnce();
  }
  EXPECT_EQ(renders, 3);
  EXPECT_EQ(draws, 1);
  EXPECT_EQ(screen.LastFrame().Lines(), (std::vector<std::string>{"x  "}));

  shown = std::make_shared<CountingNode>(draws) | tui::center;
  loop.RunOnce();
  EXPECT_EQ(draws, 2);
  EXPECT_EQ(screen.LastFrame().Lines(), (std::vector<std::string>{" x "}));
}

TEST(LoopWithoutComponentTest, DrawsABlankFrame) {
  tui::ScreenInteractive screen = tui::ScreenInteractive::FixedSize(2, 1);
  tui::Loop loop(&screen, nullptr);
  screen.PostEvent(Event::Return);
  loop.RunOnce();
  EXPECT_EQ(screen.LastFrame().Lines(), (std::vector<std::string>{"  "}));
}

}  // namespace
