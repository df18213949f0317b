#include "tui/screen/terminal_safe.h"

#include "tui/screen/glyph_width.h"
#include "tui/screen/utf8.h"

namespace tui {

std::string TerminalSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  while (!text.empty()) {
    const Utf8Read read = ReadUtf8(text);
    const auto length = static_cast<size_t>(read.length);
    if (read.status == Utf8Read::Status::kValid &&
        (read.code_point == U'\n' || !IsControl(read.code_point))) {
      safe.append(text.substr(0, length));
    } else {
      safe += '?';
    }
    text.remove_prefix(length);
  }
  return safe;
}

}  // namespace tui
