#pragma once

#include <algorithm>

namespace tui {

// A rectangle of cells with inclusive bounds; x_max < x_min (or y_max < y_min) is empty.
struct Box {
  int x_min = 0;
  int x_max = -1;
  int y_min = 0;
  int y_max = -1;

  int Width() const { return std::max(0, x_max - x_min + 1); }
  int Height() const { return std::max(0, y_max - y_min + 1); }
  bool IsEmpty() const { return Width() == 0 || Height() == 0; }
  bool Contains(int x, int y) const { return x >= x_min && x <= x_max && y >= y_min && y <= y_max; }

  static Box Intersection(Box a, Box b) {
    return {std::max(a.x_min, b.x_min), std::min(a.x_max, b.x_max), std::max(a.y_min, b.y_min),
            std::min(a.y_max, b.y_max)};
  }

  friend bool operator==(const Box&, const Box&) = default;
};

}  // namespace tui
