#include "tui/component/event.h"

#include <utility>

namespace tui {

Event Event::Character(std::string character) {
  Event event;
  event.type_ = Type::kCharacter;
  event.input_ = std::move(character);
  return event;
}

Event Event::Character(char character) { return Character(std::string(1, character)); }

Event Event::Special(std::string input) {
  Event event;
  event.type_ = Type::kSpecial;
  event.input_ = std::move(input);
  return event;
}

Event Event::FromMouse(std::string input, Mouse mouse) {
  Event event;
  event.type_ = Type::kMouse;
  event.input_ = std::move(input);
  event.mouse_ = mouse;
  return event;
}

// Named by what xterm sends in its normal cursor mode; the input decoder maps the other forms a
// terminal may send (SS3 arrows, ESC[1~ for Home, CR for Return...) onto these.
const Event Event::ArrowLeft = Event::Special("\x1b[D");
const Event Event::ArrowRight = Event::Special("\x1b[C");
const Event Event::ArrowUp = Event::Special("\x1b[A");
const Event Event::ArrowDown = Event::Special("\x1b[B");
const Event Event::Backspace = Event::Special("\x7f");
const Event Event::Return = Event::Special("\n");
const Event Event::Escape = Event::Special("\x1b");
const Event Event::Tab = Event::Special("\t");
const Event Event::Home = Event::Special("\x1b[H");
const Event Event::End = Event::Special("\x1b[F");
const Event Event::PageUp = Event::Special("\x1b[5~");
const Event Event::PageDown = Event::Special("\x1b[6~");
// A NUL byte: no key produces it through the decoder, so it never collides with real input.
const Event Event::Custom = Event::Special(std::string(1, '\0'));

}  // namespace tui
