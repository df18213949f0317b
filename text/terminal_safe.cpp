#include "text/terminal_safe.h"

#include <cstring>

#include "text/utf8.h"

namespace text {

bool IsControl(char32_t code_point) {
  const bool bidi = code_point == 0x061C || code_point == 0x200E || code_point == 0x200F ||
                    (code_point >= 0x202A && code_point <= 0x202E) ||
                    (code_point >= 0x2066 && code_point <= 0x2069);
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F) || bidi;
}

size_t MakeTerminalSafe(std::string_view in, bool more_follows, char* out, size_t* consumed) {
  size_t length = 0;
  size_t index = 0;
  while (index < in.size()) {
    const Utf8Read read = ReadUtf8(in.substr(index));
    if (read.status == Utf8Read::Status::kTruncated && more_follows) {
      break;
    }
    const auto size = static_cast<size_t>(read.length);
    const bool safe = read.status == Utf8Read::Status::kValid &&
                      (read.code_point == U'\n' || !IsControl(read.code_point));
    if (safe) {
      std::memcpy(out + length, in.data() + index, size);
      length += size;
    } else {
      out[length++] = '?';
    }
    index += size;
  }
  *consumed = index;
  return length;
}

std::string TerminalSafe(std::string_view text) {
  std::string safe(text.size(), '\0');
  size_t consumed = 0;
  safe.resize(MakeTerminalSafe(text, false, safe.data(), &consumed));
  return safe;
}

}  // namespace text
