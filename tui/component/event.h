#pragma once

#include <string>

namespace tui {

// A mouse report, in 0-based screen cells (row 0 is the top of the terminal).
struct Mouse {
  enum Button { Left, Middle, Right, None, WheelUp, WheelDown };
  enum Motion { Released, Pressed, Moved };

  Button button = None;
  Motion motion = Pressed;
  int x = 0;
  int y = 0;
};

// A key, a mouse report or a custom wake-up. Two events are equal when their input texts are.
class Event {
 public:
  static Event Character(std::string character);
  static Event Character(char character);
  // A key without a printable form, named by the input sequence a terminal sends for it.
  static Event Special(std::string input);
  static Event FromMouse(std::string input, Mouse mouse);

  static const Event ArrowLeft;
  static const Event ArrowRight;
  static const Event ArrowUp;
  static const Event ArrowDown;
  static const Event Backspace;
  static const Event Return;
  static const Event Escape;
  static const Event Tab;
  static const Event Home;
  static const Event End;
  static const Event PageUp;
  static const Event PageDown;
  // Posted to wake the loop; a terminal resize arrives as one too.
  static const Event Custom;

  bool is_character() const { return type_ == Type::kCharacter; }
  const std::string& character() const { return input_; }
  bool is_mouse() const { return type_ == Type::kMouse; }
  const Mouse& mouse() const { return mouse_; }
  Mouse& mouse() { return mouse_; }
  const std::string& input() const { return input_; }

  bool operator==(const Event& other) const { return input_ == other.input_; }

 private:
  enum class Type { kCharacter, kSpecial, kMouse };

  Type type_ = Type::kSpecial;
  std::string input_;
  Mouse mouse_;
};

}  // namespace tui
