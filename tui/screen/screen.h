#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "tui/screen/box.h"
#include "tui/screen/color.h"
#include "tui/screen/glyph.h"

namespace tui {

// One terminal cell. A wide glyph occupies its own cell and the next one, whose glyph is "".
struct Cell {
  Glyph glyph;
  bool bold = false;
  bool dim = false;
  bool inverted = false;
  Color fg;
  Color bg;

  // Cells are compared byte for byte: the painter compares every cell of every frame.
  friend bool operator==(const Cell& a, const Cell& b) {
    return std::memcmp(&a, &b, sizeof(Cell)) == 0;
  }
};
static_assert(std::has_unique_object_representations_v<Cell>);

// A grid of cells, W columns by H rows: what a frame draws into, on or off a terminal.
class Screen {
 public:
  Screen(int width, int height);

  int dimx() const { return width_; }
  int dimy() const { return height_; }
  // The whole grid as a box: (0, 0) to (dimx - 1, dimy - 1).
  Box Bounds() const { return {0, width_ - 1, 0, height_ - 1}; }

  bool Contains(int x, int y) const { return Bounds().Contains(x, y); }
  // Callers keep (x, y) inside the grid.
  Cell& At(int x, int y) { return cells_[Index(x, y)]; }
  const Cell& At(int x, int y) const { return cells_[Index(x, y)]; }

  // True when row `y` holds the same cells here and in `other`, which is as wide.
  bool SameRow(const Screen& other, int y) const {
    return width_ == 0 ||
           std::memcmp(&At(0, y), &other.At(0, y), sizeof(Cell) * static_cast<size_t>(width_)) == 0;
  }

  // Back to blank cells, keeping the size.
  void Clear();
  // Changes the size and clears.
  void Resize(int width, int height);

  // Box-drawing connections of the cell at (x, y), left by borders and separators so that the
  // lines meeting there can be joined; 0 for every other cell. Callers keep (x, y) inside.
  std::uint8_t LineMaskAt(int x, int y) const { return line_masks_[Index(x, y)]; }
  void SetLineMask(int x, int y, std::uint8_t mask) { line_masks_[Index(x, y)] = mask; }
  void ClearLineMasks();

  // Each row as UTF-8 text: every glyph once, continuation cells adding nothing.
  std::vector<std::string> Lines() const;
  // Lines() joined with '\n'.
  std::string ToString() const;

 private:
  size_t Index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x);
  }

  int width_;
  int height_;
  std::vector<Cell> cells_;
  std::vector<std::uint8_t> line_masks_;
};

}  // namespace tui
