#include "tui/dom/line_join.h"

#include "tui/dom/draw.h"

namespace tui {
namespace {

// Adds `toward` to `mask` when the neighbour at (x, y) has a line coming back the other way.
std::uint8_t Reach(const Screen& screen, int x, int y, LineDirection toward, LineDirection back) {
  if (!screen.Contains(x, y)) {
    return 0;
  }
  return (screen.LineMaskAt(x, y) & back) != 0 ? toward : 0;
}

}  // namespace

std::string_view LineGlyph(std::uint8_t mask) {
  const bool left = (mask & kLineLeft) != 0;
  const bool right = (mask & kLineRight) != 0;
  const bool up = (mask & kLineUp) != 0;
  const bool down = (mask & kLineDown) != 0;
  const bool horizontal = left || right;
  const bool vertical = up || down;
  if (horizontal && !vertical) {
    return "─";
  }
  if (vertical && !horizontal) {
    return "│";
  }
  if (left && right && up && down) {
    return "┼";
  }
  if (up && down) {
    return right ? "├" : "┤";
  }
  if (left && right) {
    return down ? "┬" : "┴";
  }
  if (down) {
    return right ? "╭" : "╮";
  }
  if (up) {
    return right ? "╰" : "╯";
  }
  return " ";
}

void DrawLine(Screen& screen, int x, int y, std::uint8_t mask) {
  DrawGlyph(screen, x, y, LineGlyph(mask));
  screen.SetLineMask(x, y, mask);
}

void JoinLines(Screen& screen, const Box& area) {
  const Box visible = VisiblePart(screen, area);
  for (int y = visible.y_min; y <= visible.y_max; ++y) {
    for (int x = visible.x_min; x <= visible.x_max; ++x) {
      const std::uint8_t mask = screen.LineMaskAt(x, y);
      if (mask == 0) {
        continue;
      }
      const std::uint8_t joined = mask | Reach(screen, x - 1, y, kLineLeft, kLineRight) |
                                  Reach(screen, x + 1, y, kLineRight, kLineLeft) |
                                  Reach(screen, x, y - 1, kLineUp, kLineDown) |
                                  Reach(screen, x, y + 1, kLineDown, kLineUp);
      if (joined != mask) {
        screen.At(x, y).glyph.assign(LineGlyph(joined));
      }
    }
  }
}

}  // namespace tui
