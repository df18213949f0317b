#pragma once

#include <string_view>

#include "tui/screen/box.h"
#include "tui/screen/screen.h"

namespace tui {

// The part of `box` that lies on `screen`: nothing is ever drawn outside it.
Box VisiblePart(const Screen& screen, const Box& box);

// Writes `glyph` (narrow, or wide when `wide`) at (x, y), which must be on the screen, and
// (x + 1, y) too when wide. A wide glyph that it cuts in half is blanked, so the grid never
// holds half a wide glyph; the line mask of the cells written is cleared.
void DrawGlyph(Screen& screen, int x, int y, std::string_view glyph, bool wide = false);

// Applies `change` to every cell of `box` that lies on `screen`.
template <typename Change>
void ForEachVisibleCell(Screen& screen, const Box& box, Change change) {
  const Box visible = VisiblePart(screen, box);
  for (int y = visible.y_min; y <= visible.y_max; ++y) {
    for (int x = visible.x_min; x <= visible.x_max; ++x) {
      change(screen.At(x, y));
    }
  }
}

}  // namespace tui
