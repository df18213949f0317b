#include "tui/dom/draw.h"
#include "tui/dom/elements.h"
#include "tui/dom/line_join.h"

namespace tui {
namespace {

class Separator : public Node {
 public:
  void ComputeRequirement() override {
    requirement_ = {};
    requirement_.min_x = 1;
    requirement_.min_y = 1;
  }

  // Horizontal only in a box one row high and wider than a column: a full-width rule in a
  // vbox, a full-height one in an hbox.
  void Render(Screen& screen) override {
    const bool horizontal = box_.Height() == 1 && box_.Width() > 1;
    const std::uint8_t mask = horizontal ? (kLineLeft | kLineRight) : (kLineUp | kLineDown);
    const Box visible = VisiblePart(screen, box_);
    for (int y = visible.y_min; y <= visible.y_max; ++y) {
      for (int x = visible.x_min; x <= visible.x_max; ++x) {
        DrawLine(screen, x, y, mask);
      }
    }
  }
};

}  // namespace

Element separator() { return std::make_shared<Separator>(); }

}  // namespace tui
