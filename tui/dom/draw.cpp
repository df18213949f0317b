#include "tui/dom/draw.h"

namespace tui {
namespace {

bool IsContinuation(const Cell& cell) { return cell.glyph.empty(); }

void Blank(Cell& cell) { cell.glyph = " "; }

// Before (x, y) is overwritten: a wide glyph that owns it from the left, or a continuation
// that it owns on the right, would be left as half a glyph.
void ReleaseCell(Screen& screen, int x, int y) {
  Cell& cell = screen.At(x, y);
  if (IsContinuation(cell) && x > 0) {
    Blank(screen.At(x - 1, y));
  }
  if (!IsContinuation(cell) && x + 1 < screen.dimx() && IsContinuation(screen.At(x + 1, y))) {
    Blank(screen.At(x + 1, y));
  }
}

}  // namespace

Box VisiblePart(const Screen& screen, const Box& box) {
  return Box::Intersection(box, screen.Bounds());
}

void DrawGlyph(Screen& screen, int x, int y, std::string_view glyph, bool wide) {
  ReleaseCell(screen, x, y);
  if (wide) {
    ReleaseCell(screen, x + 1, y);
  }
  screen.At(x, y).glyph.assign(glyph);
  screen.SetLineMask(x, y, 0);
  if (wide) {
    screen.At(x + 1, y).glyph.clear();
    screen.SetLineMask(x + 1, y, 0);
  }
}

}  // namespace tui
