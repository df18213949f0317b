#pragma once

#include <cstdint>
#include <string_view>

#include "tui/screen/box.h"
#include "tui/screen/screen.h"

namespace tui {

// Directions in which a box-drawing cell connects to its neighbours.
enum LineDirection : std::uint8_t {
  kLineLeft = 1,
  kLineRight = 2,
  kLineUp = 4,
  kLineDown = 8,
};

// The box-drawing glyph that connects in the directions of `mask` (rounded corners).
std::string_view LineGlyph(std::uint8_t mask);

// Draws the line glyph of `mask` at (x, y), which must be on the screen, and remembers the
// mask so that JoinLines can join it with the lines around it.
void DrawLine(Screen& screen, int x, int y, std::uint8_t mask);

// Gives every line cell of `area` the joining glyph for the lines that reach it from its four
// neighbours (a border meeting a separator becomes ├, ┤, ┬ or ┴; crossing lines ┼). The masks
// are read, not changed.
void JoinLines(Screen& screen, const Box& area);

}  // namespace tui
