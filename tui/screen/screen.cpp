#include "tui/screen/screen.h"

#include <algorithm>
#include <cstring>

namespace tui {

Screen::Screen(int width, int height) : width_(0), height_(0) { Resize(width, height); }

// Zeroing the grid and then writing a blank's glyph is several times quicker than copying a
// blank cell over every cell: between two frames the grid has gone cold in the cache.
void Screen::Clear() {
  if (!cells_.empty()) {
    std::memset(static_cast<void*>(cells_.data()), 0, cells_.size() * sizeof(Cell));
  }
  for (Cell& cell : cells_) {
    cell.glyph.assign(" ");
  }
  ClearLineMasks();
}

void Screen::ClearLineMasks() { std::fill(line_masks_.begin(), line_masks_.end(), 0); }

void Screen::Resize(int width, int height) {
  // A negative size from a confused caller becomes an empty grid rather than a huge one.
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  const size_t count = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  cells_.assign(count, Cell{});
  line_masks_.assign(count, 0);
}

std::vector<std::string> Screen::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(height_));
  for (int y = 0; y < height_; ++y) {
    std::string line;
    for (int x = 0; x < width_; ++x) {
      line += At(x, y).glyph;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string Screen::ToString() const {
  std::string joined;
  const std::vector<std::string> lines = Lines();
  for (size_t row = 0; row < lines.size(); ++row) {
    if (row > 0) {
      joined += '\n';
    }
    joined += lines[row];
  }
  return joined;
}

}  // namespace tui
