#include <algorithm>

#include "tui/dom/decorator_node.h"
#include "tui/dom/draw.h"
#include "tui/dom/elements.h"
#include "tui/dom/line_join.h"

namespace tui {
namespace {

class DBox : public Node {
 public:
  explicit DBox(Elements children) : Node(std::move(children)) {
    for (Element& child : children_) {
      child = OrEmpty(std::move(child));
    }
  }

  void ComputeRequirement() override {
    requirement_ = {};
    for (const Element& child : children_) {
      child->ComputeRequirement();
      requirement_.min_x = std::max(requirement_.min_x, child->requirement().min_x);
      requirement_.min_y = std::max(requirement_.min_y, child->requirement().min_y);
    }
  }

  void SetBox(Box box) override {
    box_ = box;
    for (const Element& child : children_) {
      child->SetBox(box);
    }
  }

  // A layer's lines join among themselves and with what lies around the box, never with the
  // layers under them: those are joined and forgotten before the next layer draws.
  void Render(Screen& screen) override {
    for (size_t layer = 0; layer < children_.size(); ++layer) {
      if (layer > 0) {
        JoinLines(screen, {box_.x_min - 1, box_.x_max + 1, box_.y_min - 1, box_.y_max + 1});
        ForgetLines(screen);
      }
      children_[layer]->Render(screen);
    }
  }

 private:
  void ForgetLines(Screen& screen) {
    const Box visible = VisiblePart(screen, box_);
    for (int y = visible.y_min; y <= visible.y_max; ++y) {
      for (int x = visible.x_min; x <= visible.x_max; ++x) {
        screen.SetLineMask(x, y, 0);
      }
    }
  }
};

}  // namespace

Element dbox(Elements children) { return std::make_shared<DBox>(std::move(children)); }

}  // namespace tui
