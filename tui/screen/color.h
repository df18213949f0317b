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
  constexpr Color(Palette16 index) : is_default_(false), index_(index) {}  // NOLINT

  constexpr bool IsDefault() const { return is_default_; }
  // Palette index 0..15; -1 for the default colour.
  constexpr int Index() const { return is_default_ ? -1 : index_; }

  friend constexpr bool operator==(Color, Color) = default;

 private:
  bool is_default_ = true;
  std::uint8_t index_ = 0;
};

}  // namespace tui
