#include "tui/dom/decorator_node.h"
#include "tui/dom/draw.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

// Blanks every cell of its box, glyph, styles and line joins alike, then lets the child draw.
class ClearUnder : public DecoratorNode {
 public:
  using DecoratorNode::DecoratorNode;

  void Render(Screen& screen) override {
    const Box visible = VisiblePart(screen, box_);
    for (int y = visible.y_min; y <= visible.y_max; ++y) {
      for (int x = visible.x_min; x <= visible.x_max; ++x) {
        // Through DrawGlyph, so that a wide glyph cut by the box's edge goes whole.
        DrawGlyph(screen, x, y, " ");
        screen.At(x, y) = Cell{};
      }
    }
    child().Render(screen);
  }
};

}  // namespace

Element clear_under(Element child) { return std::make_shared<ClearUnder>(std::move(child)); }

}  // namespace tui
