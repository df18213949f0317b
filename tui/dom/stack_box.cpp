#include <algorithm>
#include <vector>

#include "tui/dom/box_layout.h"
#include "tui/dom/decorator_node.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

enum class Axis { kHorizontal, kVertical };

Elements WithoutNulls(Elements children) {
  for (Element& child : children) {
    child = OrEmpty(std::move(child));
  }
  return children;
}

FlexItem MainAxisItem(const Requirement& requirement, Axis axis) {
  const bool horizontal = axis == Axis::kHorizontal;
  const int grow = horizontal ? requirement.flex_grow_x : requirement.flex_grow_y;
  const int shrink = horizontal ? requirement.flex_shrink_x : requirement.flex_shrink_y;
  return {horizontal ? requirement.min_x : requirement.min_y, grow > 0, shrink > 0, grow};
}

// hbox and vbox: children side by side along the main axis, each across the whole cross axis.
class StackBox : public Node {
 public:
  StackBox(Elements children, Axis axis) : Node(WithoutNulls(std::move(children))), axis_(axis) {}

  // The sum along the main axis, the largest across; the children's flex stays inside.
  void ComputeRequirement() override {
    requirement_ = {};
    for (const Element& child : children_) {
      child->ComputeRequirement();
      const Requirement& wanted = child->requirement();
      if (axis_ == Axis::kHorizontal) {
        requirement_.min_x += wanted.min_x;
        requirement_.min_y = std::max(requirement_.min_y, wanted.min_y);
      } else {
        requirement_.min_y += wanted.min_y;
        requirement_.min_x = std::max(requirement_.min_x, wanted.min_x);
      }
    }
  }

  void SetBox(Box box) override {
    box_ = box;
    items_.clear();
    for (const Element& child : children_) {
      items_.push_back(MainAxisItem(child->requirement(), axis_));
    }
    const bool horizontal = axis_ == Axis::kHorizontal;
    const std::vector<int> sizes = DistributeSpace(items_, horizontal ? box.Width() : box.Height());
    int start = horizontal ? box.x_min : box.y_min;
    for (size_t index = 0; index < children_.size(); ++index) {
      const int end = start + sizes[index] - 1;
      children_[index]->SetBox(horizontal ? Box{start, end, box.y_min, box.y_max}
                                          : Box{box.x_min, box.x_max, start, end});
      start = end + 1;
    }
  }

 private:
  Axis axis_;
  std::vector<FlexItem> items_;
};

}  // namespace

Element hbox(Elements children) {
  return std::make_shared<StackBox>(std::move(children), Axis::kHorizontal);
}

Element vbox(Elements children) {
  return std::make_shared<StackBox>(std::move(children), Axis::kVertical);
}

}  // namespace tui
