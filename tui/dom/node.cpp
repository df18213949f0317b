#include "tui/dom/node.h"

#include "tui/dom/decorator_node.h"
#include "tui/dom/line_join.h"

namespace tui {

void Node::ComputeRequirement() {
  for (const Element& child : children_) {
    child->ComputeRequirement();
  }
}

void Node::Render(Screen& screen) {
  for (const Element& child : children_) {
    child->Render(screen);
  }
}

DecoratorNode::DecoratorNode(Element child) : Node(Elements{OrEmpty(std::move(child))}) {}

void DecoratorNode::ComputeRequirement() {
  child().ComputeRequirement();
  requirement_ = child().requirement();
}

void DecoratorNode::SetBox(Box box) {
  Node::SetBox(box);
  child().SetBox(box);
}

Element OrEmpty(Element element) {
  return element != nullptr ? std::move(element) : std::make_shared<Node>();
}

void Render(Screen& screen, const Element& element) {
  if (element == nullptr) {
    return;
  }
  element->ComputeRequirement();
  element->SetBox(screen.Bounds());
  element->Render(screen);
  JoinLines(screen, screen.Bounds());
  screen.ClearLineMasks();
}

}  // namespace tui
