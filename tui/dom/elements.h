#pragma once

#include <functional>
#include <string_view>

#include "tui/dom/node.h"
#include "tui/screen/color.h"

namespace tui {

using Decorator = std::function<Element(Element)>;

enum WidthOrHeight { WIDTH, HEIGHT };
enum Constraint { LESS_THAN, EQUAL, GREATER_THAN };

// One row of text. Control characters and invalid UTF-8 are drawn as U+FFFD, never sent raw.
Element text(std::string_view content);
// A rule: horizontal in a vbox, vertical in an hbox.
Element separator();
// A horizontal bar filled to `progress`, clamped to 0..1 (NaN counts as 0).
Element gauge(float progress);

// How gauge(progress) fills a row `width` cells wide: whole cells, then eighths of the next one.
// Two progress values draw the same gauge of that width exactly when their fills are equal.
struct GaugeFill {
  int full_cells = 0;
  int eighths = 0;

  friend bool operator==(const GaugeFill&, const GaugeFill&) = default;
};
GaugeFill GaugeFillAt(float progress, int width);

Element hbox(Elements children);
Element vbox(Elements children);
// Children drawn on top of each other, later ones over earlier ones.
Element dbox(Elements children);

Element border(Element child);
Element center(Element child);
Element flex(Element child);
Decorator size(WidthOrHeight direction, Constraint constraint, int value);

// Blanks the cells under the element (glyphs and styles) before it draws, so that in a dbox
// nothing of the layers below shows through its box.
Element clear_under(Element child);

Element bold(Element child);
Element dim(Element child);
Element inverted(Element child);
Decorator color(Color foreground);
Decorator bgcolor(Color background);

Element operator|(Element element, Decorator decorator);
Element& operator|=(Element& element, Decorator decorator);
// Composes: `a | b` applies a, then b.
Decorator operator|(Decorator a, Decorator b);

}  // namespace tui
