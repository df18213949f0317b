#include "tui/screen/terminal_safe.h"

#include <gtest/gtest.h>

namespace {

TEST(TerminalSafeTest, OrdinaryTextAndNewlinesPassUnchanged) {
  EXPECT_EQ(tui::TerminalSafe("Failed to load: /m/Caf\u00e9 \u2014 \u97f3\u697d.mp3\n"),
            "Failed to load: /m/Caf\u00e9 \u2014 \u97f3\u697d.mp3\n");
}

TEST(TerminalSafeTest, ControlsAndBadSequencesBecomeOneQuestionMarkEach) {
  EXPECT_EQ(tui::TerminalSafe("a\x1b[2Jb"), "a?[2Jb");
  EXPECT_EQ(tui::TerminalSafe("\t\r\x07\x7f"), "????");
  EXPECT_EQ(tui::TerminalSafe("x\xc2\x9b"
                              "31m"),
            "x?31m");                              // C1 CSI in UTF-8.
  EXPECT_EQ(tui::TerminalSafe("x\x9by"), "x?y");   // A lone 8-bit CSI.
  EXPECT_EQ(tui::TerminalSafe("\xe2\x82"), "?");   // Cut short.
  EXPECT_EQ(tui::TerminalSafe("\xc0\xaf"), "??");  // Overlong '/'.
}

}  // namespace
