#include <algorithm>

#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

// The child at its minimum size in the middle of the area; the node itself covers the area.
class Center : public DecoratorNode {
 public:
  using DecoratorNode::DecoratorNode;

  void ComputeRequirement() override {
    child().ComputeRequirement();
    requirement_ = {};
    requirement_.min_x = child().requirement().min_x;
    requirement_.min_y = child().requirement().min_y;
  }

  void SetBox(Box box) override {
    box_ = box;
    const int width = std::min(child().requirement().min_x, box.Width());
    const int height = std::min(child().requirement().min_y, box.Height());
    const int left = box.x_min + (box.Width() - width) / 2;
    const int top = box.y_min + (box.Height() - height) / 2;
    child().SetBox({left, left + width - 1, top, top + height - 1});
  }
};

class Flex : public DecoratorNode {
 public:
  using DecoratorNode::DecoratorNode;

  void ComputeRequirement() override {
    DecoratorNode::ComputeRequirement();
    requirement_.flex_grow_x = requirement_.flex_grow_y = 1;
    requirement_.flex_shrink_x = requirement_.flex_shrink_y = 1;
  }
};

class Size : public DecoratorNode {
 public:
  Size(Element child, WidthOrHeight direction, Constraint constraint, int value)
      : DecoratorNode(std::move(child)),
        direction_(direction),
        constraint_(constraint),
        value_(std::max(value, 0)) {}

  void ComputeRequirement() override {
    DecoratorNode::ComputeRequirement();
    const bool width = direction_ == WIDTH;
    int& min_size = width ? requirement_.min_x : requirement_.min_y;
    min_size = Constrained(min_size);
    (width ? requirement_.flex_grow_x : requirement_.flex_grow_y) = 0;
    (width ? requirement_.flex_shrink_x : requirement_.flex_shrink_y) = 0;
  }

  void SetBox(Box box) override {
    if (constraint_ != GREATER_THAN) {
      int& high = direction_ == WIDTH ? box.x_max : box.y_max;
      const int low = direction_ == WIDTH ? box.x_min : box.y_min;
      high = std::min(high, low + value_ - 1);
    }
    DecoratorNode::SetBox(box);
  }

 private:
  int Constrained(int min_size) const {
    switch (constraint_) {
      case LESS_THAN:
        return std::min(min_size, value_);
      case EQUAL:
        return value_;
      case GREATER_THAN:
        return std::max(min_size, value_);
    }
    return min_size;
  }

  WidthOrHeight direction_;
  Constraint constraint_;
  int value_;
};

}  // namespace

Element center(Element child) { return std::make_shared<Center>(std::move(child)); }

Element flex(Element child) { return std::make_shared<Flex>(std::move(child)); }

Decorator size(WidthOrHeight direction, Constraint constraint, int value) {
  return [=](Element child) {
    return std::make_shared<Size>(std::move(child), direction, constraint, value);
  };
}

}  // namespace tui
