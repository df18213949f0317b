#include <functional>

#include "tui/dom/decorator_node.h"
#include "tui/dom/draw.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

enum class Order { kBeforeChild, kAfterChild };

// Changes every cell of its box, before the child draws (so that styles inside win) or after
// it (so that the change holds over whatever the child drew).
class Style : public DecoratorNode {
 public:
  Style(Element child, Order order, std::function<void(Cell&)> change)
      : DecoratorNode(std::move(child)), order_(order), change_(std::move(change)) {}

  void Render(Screen& screen) override {
    if (order_ == Order::kBeforeChild) {
      ForEachVisibleCell(screen, box_, change_);
    }
    child().Render(screen);
    if (order_ == Order::kAfterChild) {
      ForEachVisibleCell(screen, box_, change_);
    }
  }

 private:
  Order order_;
  std::function<void(Cell&)> change_;
};

Element MakeStyle(Element child, Order order, std::function<void(Cell&)> change) {
  return std::make_shared<Style>(std::move(child), order, std::move(change));
}

}  // namespace

Element bold(Element child) {
  return MakeStyle(std::move(child), Order::kBeforeChild, [](Cell& cell) { cell.bold = true; });
}

Element dim(Element child) {
  return MakeStyle(std::move(child), Order::kAfterChild, [](Cell& cell) { cell.dim = true; });
}

Element inverted(Element child) {
  return MakeStyle(std::move(child), Order::kAfterChild,
                   [](Cell& cell) { cell.inverted = !cell.inverted; });
}

Decorator color(Color foreground) {
  return [foreground](Element child) {
    return MakeStyle(std::move(child), Order::kBeforeChild,
                     [foreground](Cell& cell) { cell.fg = foreground; });
  };
}

Decorator bgcolor(Color background) {
  return [background](Element child) {
    return MakeStyle(std::move(child), Order::kBeforeChild,
                     [background](Cell& cell) { cell.bg = background; });
  };
}

}  // namespace tui
