#include "audio/failure_line.h"

#include <cstdio>
#include <string>

#include <unistd.h>

#include "text/terminal_safe.h"

void WriteFailureLine(std::string_view text, std::string_view detail) {
  std::string line(text);
  line += isatty(fileno(stderr)) != 0 ? text::TerminalSafe(detail) : std::string(detail);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void WriteLines(const std::string& lines) {
  if (!lines.empty()) {
    std::fwrite(lines.data(), 1, lines.size(), stderr);
    std::fflush(stderr);
  }
}
