#pragma once

#include <cstdint>

namespace tui {

// A terminal colour: one of the 16 palette entries, or the terminal's own default.
class Color {
 public:
  enum Palette1 : std::uint8_t { Default };
  enum Palette16 : std::uint8_t {
    Black,
    Red,
    Green,
    Yellow,
    Blue,
    Magenta,
    Cyan,
    GrayLight,
    GrayDark,
    RedLight,
    GreenLight,
    YellowLight,
    BlueLight,
    MagentaLight,
    CyanLight,
    White,
  };

  constexpr Color() = default;
  constexpr Color(Palette1) {}  // NOLINT: implicit, so Color::Default reads as a Color.
  constexpr Color(Palette16 index) : code_(static_cast<std::uint8_t>(index + 1)) {}  // NOLINT

  constexpr bool IsDefault() const { return code_ == 0; }
  // Palette index 0..15; -1 for the default colour.
  constexpr int Index() const { return code_ - 1; }

  friend constexpr bool operator==(Color, Color) = default;

 private:
  // 0 for the default, so that a blank cell is all zero bytes but its glyph's.
  std::uint8_t code_ = 0;
};

}  // namespace tui
