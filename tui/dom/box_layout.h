#pragma once

#include <vector>

namespace tui {

// What one child of a box asks for along the box's main axis.
struct FlexItem {
  int min_size = 0;
  bool grows = false;
  bool shrinks = false;
  // Share of the spare space taken by a growing child, relative to the other growers.
  int grow = 0;
};

// The size along the main axis of each of `items`, which share `available` cells.
//
// Spare space goes to the growers, in order, each taking spare * grow / remaining grow, so the
// last grower takes the rounding; space that nobody takes stays blank at the end. When space is
// short, the children that shrink give it up in proportion to their minimum; if that is not
// enough they get nothing and the others give up the rest in proportion to their minimum, so
// that the sizes add up to `available` exactly.
std::vector<int> DistributeSpace(const std::vector<FlexItem>& items, int available);

}  // namespace tui
