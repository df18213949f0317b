#include <string>

#include <gtest/gtest.h>

#include "tests/tui/render_lines.h"
#include "text/utf8.h"
#include "tui/dom/elements.h"

namespace {

using tui_test::RenderLines;
using tui_test::RenderToScreen;

const std::string kReplacement = "\uFFFD";

std::string Line(const std::string& content, int width) {
  return RenderLines(tui::text(content), width, 1).front();
}

// True when `glyph` could not steer a terminal: valid UTF-8 without any control character.
bool IsHarmless(std::string_view glyph) {
  std::string_view rest = glyph;
  while (!rest.empty()) {
    const text::Utf8Read read = text::ReadUtf8(rest);
    if (read.status != text::Utf8Read::Status::kValid) {
      return false;
    }
    const char32_t code_point = read.code_point;
    if (code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F)) {
      return false;
    }
    rest.remove_prefix(static_cast<size_t>(read.length));
  }
  return true;
}

TEST(TextTest, DrawsOneRowAndCutsAtTheEdge) {
  EXPECT_EQ(RenderLines(tui::text("hello"), 7, 2),
            (std::vector<std::string>{"hello  ", "       "}));
  EXPECT_EQ(Line("hello", 3), "hel");
  EXPECT_EQ(Line("", 2), "  ");
}

TEST(TextTest, ControlCharactersBecomeReplacementGlyphs) {
  EXPECT_EQ(Line("a\x1b[31mb", 8), "a" + kReplacement + "[31mb ");
  EXPECT_EQ(Line("a\nb\tc\rd", 7),
            "a" + kReplacement + "b" + kReplacement + "c" + kReplacement + "d");
  EXPECT_EQ(Line(std::string("x\0y", 3), 3), "x" + kReplacement + "y");
  EXPECT_EQ(Line("\x7f", 1), kReplacement);
  // U+009B is the one-character CSI; U+0085 the C1 next line.
  EXPECT_EQ(Line("\xc2\x9b"
                 "2J\xc2\x85",
                 4),
            kReplacement + "2J" + kReplacement);
  // A right-to-left override from a tag would reverse what follows on a bidi terminal.
  EXPECT_EQ(Line("a\u202Eb\u2067c", 5), "a" + kReplacement + "b" + kReplacement + "c");
}

TEST(TextTest, InvalidUtf8BecomesOneReplacementPerBadSequence) {
  EXPECT_EQ(Line("a\xff"
                 "b",
                 3),
            "a" + kReplacement + "b");
  // A three-byte sequence cut short counts once.
  EXPECT_EQ(Line("\xe4\xb8"
                 "c",
                 3),
            kReplacement + "c ");
  // Overlong '/', a surrogate and a code point above U+10FFFF: each byte is bad on its own.
  EXPECT_EQ(Line("\xc0\xaf", 3), kReplacement + kReplacement + " ");
  EXPECT_EQ(Line("\xed\xa0\x80", 3), kReplacement + kReplacement + kReplacement);
  EXPECT_EQ(Line("\xf4\x90\x80\x80", 4), kReplacement + kReplacement + kReplacement + kReplacement);
  // A character without a known width is not trusted either.
  EXPECT_EQ(Line("\u0378", 1), kReplacement);
}

TEST(TextTest, NoByteSequenceReachesTheGridAsAControl) {
  std::string hostile;
  for (int byte = 0; byte < 256; ++byte) {
    hostile += static_cast<char>(byte);
  }
  hostile += "\x1b]0;title\x07\x1b[2J\xc2\x9d\xe2\x80";
  const tui::Screen screen = RenderToScreen(tui::text(hostile), 400, 1);
  for (int x = 0; x < screen.dimx(); ++x) {
    EXPECT_TRUE(IsHarmless(screen.At(x, 0).glyph)) << "column " << x;
  }
}

TEST(TextTest, WideGlyphsTakeTwoCells) {
  const tui::Screen screen = RenderToScreen(tui::text("中文😀"), 7, 1);
  EXPECT_EQ(screen.At(0, 0).glyph, "中");
  EXPECT_EQ(screen.At(1, 0).glyph, "");
  EXPECT_EQ(screen.At(2, 0).glyph, "文");
  EXPECT_EQ(screen.At(4, 0).glyph, "😀");
  EXPECT_EQ(screen.At(5, 0).glyph, "");
  EXPECT_EQ(screen.Lines().front(), "中文😀 ");

  tui::Element measured = tui::text("中a");
  measured->ComputeRequirement();
  EXPECT_EQ(measured->requirement().min_x, 3);
}

TEST(TextTest, WideGlyphNeverStraddlesTheRightEdge) {
  EXPECT_EQ(Line("a中", 2), "a ");
  EXPECT_EQ(Line("中", 1), " ");
  // Inside a box narrower than the screen, too: the cell after the box stays someone else's.
  EXPECT_EQ(RenderLines(tui::hbox({tui::text("ab中") | tui::size(tui::WIDTH, tui::EQUAL, 3),
                                   tui::text("|")}),
                        5, 1)
                .front(),
            "ab | ");
}

TEST(TextTest, ZeroWidthMarksJoinThePreviousGlyph) {
  const tui::Screen screen = RenderToScreen(tui::text("e\u0301x"), 3, 1);
  EXPECT_EQ(screen.At(0, 0).glyph, "e\u0301");
  EXPECT_EQ(screen.At(1, 0).glyph, "x");
  // With nothing before it, a mark sits on a blank rather than on a neighbour's cell.
  EXPECT_EQ(RenderToScreen(tui::text("\u0301a"), 2, 1).At(0, 0).glyph, " \u0301");
  // A pile of marks stays bounded.
  std::string zalgo = "z";
  for (int count = 0; count < 100; ++count) {
    zalgo += "\u0301";
  }
  EXPECT_LE(RenderToScreen(tui::text(zalgo), 1, 1).At(0, 0).glyph.size(), 24U);
  // A joiner is left out, so that joined emoji take the cells counted for them on any terminal.
  const tui::Screen joined = RenderToScreen(tui::text("\U0001F469\u200D\U0001F467x"), 5, 1);
  EXPECT_EQ(joined.At(0, 0).glyph, "\U0001F469");
  EXPECT_EQ(joined.At(2, 0).glyph, "\U0001F467");
  EXPECT_EQ(joined.At(4, 0).glyph, "x");
}

TEST(TextTest, UpperLayerNeverLeavesHalfAWideGlyph) {
  // Writing over the first half of a wide glyph blanks its second half...
  EXPECT_EQ(RenderLines(tui::dbox({tui::text("中中"), tui::text("a")}), 4, 1).front(), "a 中");
  // ...and writing over the second half blanks the first.
  const tui::Element second_half =
      tui::hbox({tui::text("") | tui::size(tui::WIDTH, tui::EQUAL, 1), tui::text("b")});
  EXPECT_EQ(RenderLines(tui::dbox({tui::text("中"), second_half}), 3, 1).front(), " b ");
  // A wide glyph written over narrow ones keeps the grid consistent.
  EXPECT_EQ(RenderLines(tui::dbox({tui::text("a中"), tui::text("中b")}), 4, 1).front(), "中b ");
}

TEST(Utf8Test, ReadsSequencesAndReportsTruncation) {
  const text::Utf8Read euro = text::ReadUtf8("\xe2\x82\xac!");
  EXPECT_EQ(euro.status, text::Utf8Read::Status::kValid);
  EXPECT_EQ(euro.code_point, U'\u20AC');
  EXPECT_EQ(euro.length, 3);

  const text::Utf8Read cut = text::ReadUtf8("\xf0\x9f\x98");
  EXPECT_EQ(cut.status, text::Utf8Read::Status::kTruncated);
  EXPECT_EQ(cut.length, 3);

  const text::Utf8Read bad = text::ReadUtf8("\xe2(");
  EXPECT_EQ(bad.status, text::Utf8Read::Status::kInvalid);
  EXPECT_EQ(bad.length, 1);

  std::string encoded;
  for (const char32_t code_point : {U'A', U'\u00E9', U'\u4E2D', U'\U0001F600'}) {
    encoded.clear();
    text::AppendUtf8(code_point, encoded);
    const text::Utf8Read read = text::ReadUtf8(encoded);
    EXPECT_EQ(read.code_point, code_point);
    EXPECT_EQ(static_cast<size_t>(read.length), encoded.size());
  }
}

}  // namespace
