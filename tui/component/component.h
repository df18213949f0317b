#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "tui/component/event.h"
#include "tui/dom/elements.h"

namespace tui {

class ComponentBase;
using Component = std::shared_ptr<ComponentBase>;
using Components = std::vector<Component>;
using ComponentDecorator = std::function<Component(Component)>;

// A node of the component tree: it draws itself and may consume events.
class ComponentBase {
 public:
  virtual ~ComponentBase() = default;

  // By default: the single child's rendering, or an empty element.
  virtual Element Render();
  // By default: offered to the children in order until one consumes it.
  virtual bool OnEvent(Event event);

  void Add(Component child) { children_.push_back(std::move(child)); }

 protected:
  Components children_;
};

// Draws `render()`; consumes no event.
Component Renderer(std::function<Element()> render);
// Draws `render()` only (the child shows only if `render` calls child->Render()); events go to
// the child.
Component Renderer(Component child, std::function<Element()> render);

// `handler` sees each event first; the child sees it only when `handler` returns false.
Component CatchEvent(Component child, std::function<bool(Event)> handler);
ComponentDecorator CatchEvent(std::function<bool(Event)> handler);

Component operator|(Component component, ComponentDecorator decorator);
Component& operator|=(Component& component, ComponentDecorator decorator);

}  // namespace tui
