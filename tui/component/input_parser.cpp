#include "tui/component/input_parser.h"

#include <optional>

#include "text/utf8.h"

namespace tui {
namespace {

constexpr char kEsc = '\x1b';
// A report longer than this is not something a terminal sends; it is dropped, not waited for.
constexpr size_t kMaxSequence = 32;

// The result of decoding the front of the input.
struct Step {
  enum class Kind { kEvent, kSkip, kIncomplete };

  Kind kind = Kind::kIncomplete;
  size_t length = 0;
  Event event;
};

Step Emit(size_t length, Event event) { return {Step::Kind::kEvent, length, std::move(event)}; }
Step Skip(size_t length) { return {Step::Kind::kSkip, length, {}}; }
Step Incomplete() { return {}; }

// Reads a decimal parameter, saturating rather than overflowing.
int ParseNumber(std::string_view digits) {
  int value = 0;
  for (const char digit : digits) {
    value = value > 100000 ? value : value * 10 + (digit - '0');
  }
  return value;
}

Mouse MouseFromCode(int code, bool released) {
  Mouse mouse;
  if ((code & 64) != 0) {
    mouse.button = (code & 3) == 0 ? Mouse::WheelUp : Mouse::WheelDown;
    mouse.motion = Mouse::Pressed;
    return mouse;
  }
  constexpr Mouse::Button kButtons[] = {Mouse::Left, Mouse::Middle, Mouse::Right, Mouse::None};
  mouse.button = kButtons[code & 3];
  if ((code & 32) != 0) {
    mouse.motion = Mouse::Moved;
  } else if (released || mouse.button == Mouse::None) {
    mouse.motion = Mouse::Released;
  } else {
    mouse.motion = Mouse::Pressed;
  }
  return mouse;
}

// ESC [ M b x y: each byte is the value plus 32, coordinates 1-based.
Step DecodeX10Mouse(std::string_view input) {
  if (input.size() < 6) {
    return Incomplete();
  }
  const auto byte = [&](size_t index) { return static_cast<unsigned char>(input[index]); };
  Mouse mouse = MouseFromCode(byte(3) - 32, false);
  mouse.x = byte(4) > 33 ? byte(4) - 33 : 0;
  mouse.y = byte(5) > 33 ? byte(5) - 33 : 0;
  return Emit(6, Event::FromMouse(std::string(input.substr(0, 6)), mouse));
}

// ESC [ < b ; x ; y M (press) or m (release), coordinates 1-based.
Step DecodeSgrMouse(std::string_view input) {
  int fields[3] = {0, 0, 0};
  size_t field = 0;
  size_t start = 3;
  for (size_t index = 3; index < input.size() && index < kMaxSequence; ++index) {
    const char byte = input[index];
    if (byte >= '0' && byte <= '9') {
      continue;
    }
    if (byte == ';' || byte == 'M' || byte == 'm') {
      if (field < 3) {
        fields[field] = ParseNumber(input.substr(start, index - start));
      }
      ++field;
      start = index + 1;
      if (byte == ';') {
        continue;
      }
      if (field != 3) {
        return Skip(index + 1);
      }
      Mouse mouse = MouseFromCode(fields[0], byte == 'm');
      mouse.x = fields[1] > 0 ? fields[1] - 1 : 0;
      mouse.y = fields[2] > 0 ? fields[2] - 1 : 0;
      return Emit(index + 1, Event::FromMouse(std::string(input.substr(0, index + 1)), mouse));
    }
    return Skip(index + 1);
  }
  return input.size() < kMaxSequence ? Incomplete() : Skip(input.size());
}

std::optional<Event> KeyFromCsi(std::string_view parameters, char final) {
  if (parameters.empty() || parameters == "1") {
    switch (final) {
      case 'A':
        return Event::ArrowUp;
      case 'B':
        return Event::ArrowDown;
      case 'C':
        return Event::ArrowRight;
      case 'D':
        return Event::ArrowLeft;
      case 'H':
        return Event::Home;
      case 'F':
        return Event::End;
      default:
        break;
    }
  }
  if (final == '~') {
    if (parameters == "1" || parameters == "7") {
      return Event::Home;
    }
    if (parameters == "4" || parameters == "8") {
      return Event::End;
    }
    if (parameters == "5") {
      return Event::PageUp;
    }
    if (parameters == "6") {
      return Event::PageDown;
    }
  }
  return std::nullopt;
}

// ESC [ parameters intermediates final.
Step DecodeCsi(std::string_view input) {
  if (input.size() < 3) {
    return Incomplete();
  }
  if (input[2] == 'M') {
    return DecodeX10Mouse(input);
  }
  if (input[2] == '<') {
    return DecodeSgrMouse(input);
  }
  size_t index = 2;
  while (index < input.size() && input[index] >= 0x30 && input[index] <= 0x3F) {
    ++index;
  }
  const std::string_view parameters = input.substr(2, index - 2);
  while (index < input.size() && input[index] >= 0x20 && input[index] <= 0x2F) {
    ++index;
  }
  if (index >= input.size()) {
    return input.size() < kMaxSequence ? Incomplete() : Skip(input.size());
  }
  const char final = input[index];
  if (final < 0x40 || final > 0x7E) {
    return Emit(1, Event::Escape);
  }
  const std::string_view sequence = input.substr(0, index + 1);
  const bool plain = sequence.size() == parameters.size() + 3;
  if (std::optional<Event> key = plain ? KeyFromCsi(parameters, final) : std::nullopt) {
    return Emit(sequence.size(), *key);
  }
  return Emit(sequence.size(), Event::Special(std::string(sequence)));
}

// ESC O final: the cursor keys in the terminal's application mode.
Step DecodeSs3(std::string_view input) {
  if (input.size() < 3) {
    return Incomplete();
  }
  if (std::optional<Event> key = KeyFromCsi("", input[2])) {
    return Emit(3, *key);
  }
  return Emit(3, Event::Special(std::string(input.substr(0, 3))));
}

Step DecodeEscape(std::string_view input) {
  if (input.size() < 2) {
    return Incomplete();
  }
  if (input[1] == '[') {
    return DecodeCsi(input);
  }
  if (input[1] == 'O') {
    return DecodeSs3(input);
  }
  // Anything else after ESC: the Escape key, then that key on its own.
  return Emit(1, Event::Escape);
}

Step DecodeControl(char byte) {
  switch (byte) {
    case '\0':
      // Ctrl-Space; as an event it would read as the custom wake-up.
      return Skip(1);
    case '\r':
    case '\n':
      return Emit(1, Event::Return);
    case '\t':
      return Emit(1, Event::Tab);
    case '\x7f':
    case '\b':
      return Emit(1, Event::Backspace);
    default:
      return Emit(1, Event::Special(std::string(1, byte)));
  }
}

Step DecodeText(std::string_view input) {
  const ::text::Utf8Read read = ::text::ReadUtf8(input);
  const auto length = static_cast<size_t>(read.length);
  if (read.status == ::text::Utf8Read::Status::kTruncated) {
    return Incomplete();
  }
  if (read.status == ::text::Utf8Read::Status::kInvalid) {
    return Skip(length);
  }
  // C1 controls have no key of their own.
  if (read.code_point >= 0x80 && read.code_point <= 0x9F) {
    return Skip(length);
  }
  return Emit(length, Event::Character(std::string(input.substr(0, length))));
}

Step DecodeOne(std::string_view input) {
  const auto byte = static_cast<unsigned char>(input.front());
  if (byte == kEsc) {
    return DecodeEscape(input);
  }
  if (byte < 0x20 || byte == 0x7F) {
    return DecodeControl(static_cast<char>(byte));
  }
  return DecodeText(input);
}

}  // namespace

void InputParser::Feed(std::string_view bytes, std::vector<Event>& out) {
  pending_ += bytes;
  Decode(false, out);
}

void InputParser::Flush(std::vector<Event>& out) { Decode(true, out); }

void InputParser::Decode(bool final, std::vector<Event>& out) {
  size_t position = 0;
  while (position < pending_.size()) {
    const std::string_view rest = std::string_view(pending_).substr(position);
    Step step = DecodeOne(rest);
    if (step.kind == Step::Kind::kIncomplete) {
      if (!final) {
        break;
      }
      // Given up waiting: a lone ESC is the Escape key, a cut character is dropped.
      step = rest.front() == kEsc ? Emit(1, Event::Escape) : Skip(rest.size());
    }
    if (step.kind == Step::Kind::kEvent) {
      out.push_back(std::move(step.event));
    }
    position += step.length;
  }
  pending_.erase(0, position);
}

}  // namespace tui
