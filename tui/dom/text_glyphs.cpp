#include "tui/dom/text_glyphs.h"

#include "text/utf8.h"
#include "tui/screen/glyph.h"
#include "tui/screen/glyph_width.h"

namespace tui {
namespace {

constexpr char kReplacement[] = "\uFFFD";

// Terminals disagree on whether a zero-width joiner merges the emoji around it into one glyph
// (tmux draws a joined family in two cells, others in eight), and a row drawn narrower than
// counted leaves old cells behind. Without it the emoji stand apart, as every terminal counts.
constexpr char32_t kZeroWidthJoiner = 0x200D;

void StartGlyph(TextGlyphs& out, std::string_view bytes, int width) {
  out.glyphs.push_back({static_cast<std::uint32_t>(out.bytes.size()),
                        static_cast<std::uint8_t>(bytes.size()), static_cast<std::uint8_t>(width)});
  out.bytes += bytes;
  out.width += width;
}

void JoinMark(TextGlyphs& out, std::string_view mark) {
  if (out.glyphs.empty()) {
    StartGlyph(out, " ", 1);
  }
  TextGlyph& last = out.glyphs.back();
  // A cell holds a base character and a few marks; a pile of marks beyond what it holds (a
  // "zalgo" text) is dropped.
  if (last.size + mark.size() > Glyph::kMaxBytes) {
    return;
  }
  last.size = static_cast<std::uint8_t>(last.size + mark.size());
  out.bytes += mark;
}

}  // namespace

TextGlyphs SplitGlyphs(std::string_view text) {
  TextGlyphs out;
  out.bytes.reserve(text.size());
  out.glyphs.reserve(text.size());
  while (!text.empty()) {
    const ::text::Utf8Read read = ::text::ReadUtf8(text);
    const std::string_view sequence = text.substr(0, static_cast<size_t>(read.length));
    text.remove_prefix(static_cast<size_t>(read.length));
    if (read.status == ::text::Utf8Read::Status::kValid && read.code_point == kZeroWidthJoiner) {
      continue;
    }
    const int width =
        read.status == ::text::Utf8Read::Status::kValid ? CodePointWidth(read.code_point) : -1;
    if (width < 0) {
      StartGlyph(out, kReplacement, 1);
    } else if (width == 0) {
      JoinMark(out, sequence);
    } else {
      StartGlyph(out, sequence, width);
    }
  }
  return out;
}

}  // namespace tui
