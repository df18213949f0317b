#include "text/terminal_safe.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

TEST(TerminalSafeTest, OrdinaryTextAndNewlinesPassUnchanged) {
  EXPECT_EQ(text::TerminalSafe("Failed to load: /m/Caf\u00e9 \u2014 \u97f3\u697d.mp3\n"),
            "Failed to load: /m/Caf\u00e9 \u2014 \u97f3\u697d.mp3\n");
}

TEST(TerminalSafeTest, ControlsAndBadSequencesBecomeOneQuestionMarkEach) {
  EXPECT_EQ(text::TerminalSafe("a\x1b[2Jb"), "a?[2Jb");
  EXPECT_EQ(text::TerminalSafe("\t\r\x07\x7f"), "????");
  EXPECT_EQ(text::TerminalSafe("x\xc2\x9b"
                               "31m"),
            "x?31m");                               // C1 CSI in UTF-8.
  EXPECT_EQ(text::TerminalSafe("x\x9by"), "x?y");   // A lone 8-bit CSI.
  EXPECT_EQ(text::TerminalSafe("\xe2\x82"), "?");   // Cut short.
  EXPECT_EQ(text::TerminalSafe("\xc0\xaf"), "??");  // Overlong '/'.
  // Bidi overrides, embeddings, isolates and marks would reorder the rest of the line.
  EXPECT_EQ(text::TerminalSafe("a\u202Eb\u2066c\u200Fd\u061Ce"), "a?b?c?d?e");
}

// Held standard error is made safe chunk by chunk: a sequence cut by the end of one chunk waits
// for the next, unless none follows.
TEST(TerminalSafeTest, ASequenceCutByTheChunkWaitsForTheNext) {
  const std::string_view chunk = "ok \xe2\x82";
  char out[16];
  size_t consumed = 0;
  EXPECT_EQ(std::string(out, text::MakeTerminalSafe(chunk, true, out, &consumed)), "ok ");
  EXPECT_EQ(consumed, 3u);
  EXPECT_EQ(std::string(out, text::MakeTerminalSafe(chunk, false, out, &consumed)), "ok ?");
  EXPECT_EQ(consumed, chunk.size());
}

}  // namespace
