#pragma once

#include <string>
#include <vector>

#include "tui/dom/elements.h"
#include "tui/screen/screen.h"

namespace tui_test {

// Draws `element` on a fresh width x height grid.
inline tui::Screen RenderToScreen(const tui::Element& element, int width, int height) {
  tui::Screen screen(width, height);
  tui::Render(screen, element);
  return screen;
}

// The rows of `element` drawn on a fresh width x height grid.
inline std::vector<std::string> RenderLines(const tui::Element& element, int width, int height) {
  return RenderToScreen(element, width, height).Lines();
}

}  // namespace tui_test
