#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tui {

// One glyph of a text: `size` bytes of TextGlyphs::bytes from `offset`, `width` columns wide.
struct TextGlyph {
  std::uint32_t offset = 0;
  std::uint8_t size = 0;
  std::uint8_t width = 1;
};

// A text made safe to send to a terminal and cut into glyphs.
struct TextGlyphs {
  std::string bytes;
  std::vector<TextGlyph> glyphs;
  int width = 0;
};

// Cuts `text` into glyphs of one or two columns. Controls (C0 with TAB and LF, DEL, C1) and
// characters with no known width become U+FFFD, as does each invalid UTF-8 sequence; marks of
// width 0 join the glyph before them (a mark with nothing before it is drawn on a space).
TextGlyphs SplitGlyphs(std::string_view text);

}  // namespace tui
