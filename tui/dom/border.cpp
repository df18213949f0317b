#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"
#include "tui/dom/line_join.h"

namespace tui {
namespace {

class Border : public DecoratorNode {
 public:
  using DecoratorNode::DecoratorNode;

  void ComputeRequirement() override {
    DecoratorNode::ComputeRequirement();
    requirement_.min_x += 2;
    requirement_.min_y += 2;
  }

  void SetBox(Box box) override {
    box_ = box;
    child().SetBox({box.x_min + 1, box.x_max - 1, box.y_min + 1, box.y_max - 1});
  }

  void Render(Screen& screen) override {
    DrawFrame(screen);
    child().Render(screen);
  }

 private:
  void Put(Screen& screen, int x, int y, std::uint8_t mask) {
    if (screen.Contains(x, y)) {
      DrawLine(screen, x, y, mask);
    }
  }

  // A box narrower or lower than two cells has no room for a frame.
  void DrawFrame(Screen& screen) {
    if (box_.Width() < 2 || box_.Height() < 2) {
      return;
    }
    for (int x = box_.x_min + 1; x < box_.x_max; ++x) {
      Put(screen, x, box_.y_min, kLineLeft | kLineRight);
      Put(screen, x, box_.y_max, kLineLeft | kLineRight);
    }
    for (int y = box_.y_min + 1; y < box_.y_max; ++y) {
      Put(screen, box_.x_min, y, kLineUp | kLineDown);
      Put(screen, box_.x_max, y, kLineUp | kLineDown);
    }
    Put(screen, box_.x_min, box_.y_min, kLineRight | kLineDown);
    Put(screen, box_.x_max, box_.y_min, kLineLeft | kLineDown);
    Put(screen, box_.x_min, box_.y_max, kLineRight | kLineUp);
    Put(screen, box_.x_max, box_.y_max, kLineLeft | kLineUp);
  }
};

}  // namespace

Element border(Element child) { return std::make_shared<Border>(std::move(child)); }

}  // namespace tui
