#include "audio/failure_line.h"

#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

bool IsC1InUtf8(std::string_view text, size_t at) {
  return static_cast<unsigned char>(text[at]) == 0xC2 && at + 1 < text.size() &&
         static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

std::string TerminalSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (IsC1InUtf8(text, i)) {
      safe += '?';
      ++i;
    } else if (byte < 0x20 || byte == 0x7F) {
      safe += '?';
    } else {
      safe += static_cast<char>(byte);
    }
  }
  return safe;
}

}  // namespace

void WriteFailureLine(std::string_view text, std::string_view detail) {
  std::string line(text);
  line += isatty(fileno(stderr)) != 0 ? TerminalSafe(detail) : std::string(detail);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}
