#include "tui/dom/elements.h"

namespace tui {

Element operator|(Element element, Decorator decorator) {
  if (!decorator) {
    return element;
  }
  return decorator(std::move(element));
}

Element& operator|=(Element& element, Decorator decorator) {
  element = std::move(element) | std::move(decorator);
  return element;
}

Decorator operator|(Decorator a, Decorator b) {
  return
      [a = std::move(a), b = std::move(b)](Element element) { return std::move(element) | a | b; };
}

}  // namespace tui
