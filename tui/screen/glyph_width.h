#pragma once

namespace tui {

// Terminal columns taken by `code_point`: 2 for wide characters, 0 for marks that join the
// glyph before them, 1 otherwise; -1 for controls and for characters the UTF-8 tables do not
// know as printable. Answers from the C.UTF-8 tables whatever the process locale is.
int CodePointWidth(char32_t code_point);

}  // namespace tui
