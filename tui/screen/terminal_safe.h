#pragma once

#include <string>
#include <string_view>

namespace tui {

// `text` as it may be written straight to a terminal: each control character (C0 but the
// newline, DEL, C1) and each sequence that is not well-formed UTF-8 becomes one '?'.
std::string TerminalSafe(std::string_view text);

}  // namespace tui
