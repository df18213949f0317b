#pragma once

// Text written straight to a terminal (failure lines, held standard error) that may quote file
// names and tags: nothing in it may steer the terminal.

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// True for the code points that steer a terminal instead of showing: C0 (TAB and LF included),
// DEL and C1, and the bidirectional formatting characters, with which a name or a tag would
// reorder what a terminal that lays out right-to-left text shows after it.
bool IsControl(char32_t code_point);

// Copies `in` to `out`, each control character (all of the above but the newline) and each
// sequence that is not well-formed UTF-8 (a lone 0x9B is CSI to a terminal in 8-bit mode) as
// one '?'.
// While `more_follows`, a sequence cut by the end of `in` is left unconsumed for the next chunk.
// `out` needs room for in.size() bytes. Returns the bytes written to `out`; `consumed` tells how
// much of `in` they stand for. Async-signal-safe.
size_t MakeTerminalSafe(std::string_view in, bool more_follows, char* out, size_t* consumed);

// `text` made terminal-safe as a whole.
std::string TerminalSafe(std::string_view text);

}  // namespace text
