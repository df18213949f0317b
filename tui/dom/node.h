#pragma once

#include <memory>
#include <vector>

#include "tui/screen/box.h"
#include "tui/screen/screen.h"

namespace tui {

class Node;
using Element = std::shared_ptr<Node>;
using Elements = std::vector<Element>;

// What a node asks of its parent: its minimum size and whether it may grow or shrink per axis.
struct Requirement {
  int min_x = 0;
  int min_y = 0;
  int flex_grow_x = 0;
  int flex_grow_y = 0;
  int flex_shrink_x = 0;
  int flex_shrink_y = 0;
};

// A node of the element tree. Drawing runs three passes: ComputeRequirement (bottom-up),
// SetBox (top-down), Render.
class Node {
 public:
  Node() = default;
  explicit Node(Elements children) : children_(std::move(children)) {}
  virtual ~Node() = default;

  // Measure: by default the children are measured and nothing is asked for.
  virtual void ComputeRequirement();
  // Place: by default the box is stored.
  virtual void SetBox(Box box) { box_ = box; }
  // Draw: by default the children draw themselves.
  virtual void Render(Screen& screen);

  const Requirement& requirement() const { return requirement_; }
  const Box& box() const { return box_; }

 protected:
  Elements children_;
  Requirement requirement_;
  Box box_;
};

// Draws `element` over the whole of `screen`: measure, give it every cell, draw.
void Render(Screen& screen, const Element& element);

}  // namespace tui
