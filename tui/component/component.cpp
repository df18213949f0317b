#include "tui/component/component.h"

#include <utility>

namespace tui {
namespace {

class RendererComponent : public ComponentBase {
 public:
  explicit RendererComponent(std::function<Element()> render) : render_(std::move(render)) {}

  Element Render() override { return render_ ? render_() : std::make_shared<Node>(); }

 private:
  std::function<Element()> render_;
};

class EventCatcher : public ComponentBase {
 public:
  EventCatcher(Component child, std::function<bool(Event)> handler) : handler_(std::move(handler)) {
    Add(std::move(child));
  }

  bool OnEvent(Event event) override {
    if (handler_ && handler_(event)) {
      return true;
    }
    return ComponentBase::OnEvent(std::move(event));
  }

 private:
  std::function<bool(Event)> handler_;
};

}  // namespace

Element ComponentBase::Render() {
  if (children_.size() == 1 && children_.front() != nullptr) {
    return children_.front()->Render();
  }
  return std::make_shared<Node>();
}

bool ComponentBase::OnEvent(Event event) {
  for (const Component& child : children_) {
    if (child != nullptr && child->OnEvent(event)) {
      return true;
    }
  }
  return false;
}

Component Renderer(std::function<Element()> render) {
  return std::make_shared<RendererComponent>(std::move(render));
}

Component Renderer(Component child, std::function<Element()> render) {
  Component renderer = Renderer(std::move(render));
  renderer->Add(std::move(child));
  return renderer;
}

Component CatchEvent(Component child, std::function<bool(Event)> handler) {
  return std::make_shared<EventCatcher>(std::move(child), std::move(handler));
}

ComponentDecorator CatchEvent(std::function<bool(Event)> handler) {
  return [handler = std::move(handler)](Component child) {
    return CatchEvent(std::move(child), handler);
  };
}

Component operator|(Component component, ComponentDecorator decorator) {
  if (!decorator) {
    return component;
  }
  return decorator(std::move(component));
}

Component& operator|=(Component& component, ComponentDecorator decorator) {
  component = std::move(component) | std::move(decorator);
  return component;
}

}  // namespace tui
