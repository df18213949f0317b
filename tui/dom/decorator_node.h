#pragma once

#include "tui/dom/node.h"

namespace tui {

// A node with one child that asks for what its child asks and hands it its whole box.
class DecoratorNode : public Node {
 public:
  explicit DecoratorNode(Element child);

  void ComputeRequirement() override;
  void SetBox(Box box) override;

 protected:
  Node& child() { return *children_.front(); }
};

// `element`, or an element that draws nothing when it is null.
Element OrEmpty(Element element);

}  // namespace tui
