#pragma once

#include <array>

#include "tui/screen/screen.h"

namespace tui {

// Sends frames to ncursesw's standard screen: only the cells that changed since the frame it
// sent before, so that an unchanged frame costs a comparison and no terminal output.
// Used only while a Terminal holds the terminal.
class CursesPainter {
 public:
  CursesPainter();

  // Reads the terminal's colour support; call once ncurses has started colours.
  void Configure(int colors, int color_pairs, bool default_colors);
  // Forgets the last frame, so that the next Paint sends every cell.
  void Invalidate() {
    previous_.Resize(0, 0);
    up_to_date_ = false;
  }
  // True when the terminal shows the last frame painted, so that painting it again would send
  // nothing; false before the first Paint and after Invalidate.
  bool UpToDate() const { return up_to_date_; }
  // Sends the changed cells of `frame` and updates the terminal if any changed.
  void Paint(const Screen& frame);

 private:
  void PaintCell(int x, int y, const Cell& cell);
  short PairFor(Color foreground, Color background);
  int CursesColor(Color color, bool foreground) const;

  Screen previous_{0, 0};
  bool up_to_date_ = false;
  int colors_ = 0;
  int color_pairs_ = 0;
  bool default_colors_ = false;
  short next_pair_ = 1;
  // Pair numbers by (foreground + 1) * 17 + (background + 1); 0 until allocated.
  std::array<short, 17 * 17> pairs_{};
};

}  // namespace tui
