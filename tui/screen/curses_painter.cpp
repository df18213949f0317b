#include "tui/screen/curses_painter.h"

#include <string_view>

#include <curses.h>

#include "text/utf8.h"

namespace tui {
namespace {

constexpr int kPaletteSize = 16;

// The code points of a glyph, as ncurses takes them: a base and at most a few marks.
void ToWide(std::string_view glyph, wchar_t (&out)[CCHARW_MAX + 1]) {
  size_t count = 0;
  while (!glyph.empty() && count < CCHARW_MAX) {
    const ::text::Utf8Read read = ::text::ReadUtf8(glyph);
    out[count++] = static_cast<wchar_t>(read.code_point);
    glyph.remove_prefix(static_cast<size_t>(read.length));
  }
  if (count == 0) {
    out[count++] = L' ';
  }
  out[count] = L'\0';
}

}  // namespace

CursesPainter::CursesPainter() = default;

void CursesPainter::Configure(int colors, int color_pairs, bool default_colors) {
  colors_ = colors;
  color_pairs_ = color_pairs;
  default_colors_ = default_colors;
  next_pair_ = 1;
  pairs_.fill(0);
  Invalidate();
}

void CursesPainter::Paint(const Screen& frame) {
  const bool full = previous_.dimx() != frame.dimx() || previous_.dimy() != frame.dimy();
  const int width = std::min(frame.dimx(), COLS);
  const int height = std::min(frame.dimy(), LINES);
  bool changed = false;
  for (int y = 0; y < height; ++y) {
    // Rows the same to the byte as what was sent are passed over whole.
    if (!full && previous_.SameRow(frame, y)) {
      continue;
    }
    for (int x = 0; x < width; ++x) {
      const Cell& cell = frame.At(x, y);
      if (!full) {
        // Only the cells that changed are copied.
        Cell& sent = previous_.At(x, y);
        if (sent == cell) {
          continue;
        }
        sent = cell;
      }
      // A continuation cell is drawn by the wide glyph before it.
      if (cell.glyph.empty()) {
        continue;
      }
      PaintCell(x, y, cell);
      changed = true;
    }
  }
  if (changed || full) {
    wnoutrefresh(stdscr);
    doupdate();
  }
  if (full) {
    previous_ = frame;
  }
  up_to_date_ = true;
}

void CursesPainter::PaintCell(int x, int y, const Cell& cell) {
  wchar_t wide[CCHARW_MAX + 1];
  ToWide(cell.glyph, wide);
  attr_t attributes = A_NORMAL;
  if (cell.bold) {
    attributes |= A_BOLD;
  }
  if (cell.dim) {
    attributes |= A_DIM;
  }
  if (cell.inverted) {
    attributes |= A_REVERSE;
  }
  // Where only eight colours exist, the bright half of the palette is the dark half in bold.
  if (colors_ > 0 && colors_ < kPaletteSize && cell.fg.Index() >= 8) {
    attributes |= A_BOLD;
  }
  cchar_t character;
  setcchar(&character, wide, attributes, PairFor(cell.fg, cell.bg), nullptr);
  // Writing the bottom-right cell reports an error because the cursor cannot advance past it;
  // the cell is written all the same.
  mvwadd_wch(stdscr, y, x, &character);
}

int CursesPainter::CursesColor(Color color, bool foreground) const {
  if (color.IsDefault()) {
    if (default_colors_) {
      return -1;
    }
    return foreground ? COLOR_WHITE : COLOR_BLACK;
  }
  return colors_ >= kPaletteSize ? color.Index() : color.Index() % 8;
}

short CursesPainter::PairFor(Color foreground, Color background) {
  if (colors_ < 8 || (foreground.IsDefault() && background.IsDefault())) {
    return 0;
  }
  short& pair = pairs_[static_cast<size_t>((foreground.Index() + 1) * 17 + background.Index() + 1)];
  if (pair == 0 && next_pair_ < color_pairs_) {
    if (init_pair(next_pair_, static_cast<short>(CursesColor(foreground, true)),
                  static_cast<short>(CursesColor(background, false))) == OK) {
      pair = next_pair_++;
    }
  }
  return pair;
}

}  // namespace tui
