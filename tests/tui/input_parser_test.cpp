#include "tui/component/input_parser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using tui::Event;
using tui::Mouse;

std::vector<Event> Decode(const std::string& bytes) {
  tui::InputParser parser;
  std::vector<Event> events;
  parser.Feed(bytes, events);
  EXPECT_FALSE(parser.HasPending()) << "waiting after a complete input";
  return events;
}

Event DecodeOne(const std::string& bytes) {
  const std::vector<Event> events = Decode(bytes);
  EXPECT_EQ(events.size(), 1U) << "for input of " << bytes.size() << " bytes";
  return events.empty() ? Event::Custom : events.front();
}

TEST(InputParserTest, CursorKeysInBothCsiAndSs3Forms) {
  EXPECT_EQ(DecodeOne("\x1b[A"), Event::ArrowUp);
  EXPECT_EQ(DecodeOne("\x1b[B"), Event::ArrowDown);
  EXPECT_EQ(DecodeOne("\x1b[C"), Event::ArrowRight);
  EXPECT_EQ(DecodeOne("\x1b[D"), Event::ArrowLeft);
  EXPECT_EQ(DecodeOne("\x1bOA"), Event::ArrowUp);
  EXPECT_EQ(DecodeOne("\x1bOB"), Event::ArrowDown);
  EXPECT_EQ(DecodeOne("\x1bOC"), Event::ArrowRight);
  EXPECT_EQ(DecodeOne("\x1bOD"), Event::ArrowLeft);
}

TEST(InputParserTest, HomeEndAndPageKeysInEveryForm) {
  for (const char* home : {"\x1b[H", "\x1bOH", "\x1b[1~", "\x1b[7~"}) {
    EXPECT_EQ(DecodeOne(home), Event::Home) << home + 1;
  }
  for (const char* end : {"\x1b[F", "\x1bOF", "\x1b[4~", "\x1b[8~"}) {
    EXPECT_EQ(DecodeOne(end), Event::End) << end + 1;
  }
  EXPECT_EQ(DecodeOne("\x1b[5~"), Event::PageUp);
  EXPECT_EQ(DecodeOne("\x1b[6~"), Event::PageDown);
}

TEST(InputParserTest, OtherSequencesAreKeptWhole) {
  // Ctrl-Up, Delete and F1 are no named key but stay one event each.
  EXPECT_EQ(DecodeOne("\x1b[1;5A").input(), "\x1b[1;5A");
  EXPECT_EQ(DecodeOne("\x1b[3~").input(), "\x1b[3~");
  EXPECT_EQ(DecodeOne("\x1bOP").input(), "\x1bOP");
  EXPECT_FALSE(DecodeOne("\x1b[1;5A") == Event::ArrowUp);
}

TEST(InputParserTest, ControlKeys) {
  EXPECT_EQ(DecodeOne("\r"), Event::Return);
  EXPECT_EQ(DecodeOne("\n"), Event::Return);
  EXPECT_EQ(DecodeOne("\t"), Event::Tab);
  EXPECT_EQ(DecodeOne("\x7f"), Event::Backspace);
  EXPECT_EQ(DecodeOne("\b"), Event::Backspace);
  EXPECT_EQ(DecodeOne("\x01").input(), "\x01");
  // NUL (Ctrl-Space) must not pass for the custom wake-up.
  EXPECT_TRUE(Decode(std::string(1, '\0')).empty());
}

TEST(InputParserTest, CharactersIncludingMultibyteOnes) {
  const std::vector<Event> events = Decode(" aé中😀");
  ASSERT_EQ(events.size(), 5U);
  EXPECT_EQ(events[0], Event::Character(' '));
  EXPECT_EQ(events[1], Event::Character('a'));
  EXPECT_EQ(events[2], Event::Character("é"));
  EXPECT_EQ(events[3], Event::Character("中"));
  EXPECT_TRUE(events[4].is_character());
  // Invalid bytes and C1 controls make no event.
  EXPECT_EQ(Decode("\xff"
                   "b\xc2\x9b"),
            (std::vector<Event>{Event::Character('b')}));
}

TEST(InputParserTest, LoneEscapeWaitsUntilFlushed) {
  tui::InputParser parser;
  std::vector<Event> events;
  parser.Feed("\x1b", events);
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(parser.HasPending());
  parser.Flush(events);
  EXPECT_EQ(events, (std::vector<Event>{Event::Escape}));
  EXPECT_FALSE(parser.HasPending());
}

TEST(InputParserTest, SequencesCutAcrossReadsAreJoined) {
  tui::InputParser parser;
  std::vector<Event> events;
  parser.Feed("x\x1b", events);
  parser.Feed("[", events);
  parser.Feed("6", events);
  EXPECT_EQ(events, (std::vector<Event>{Event::Character('x')}));
  parser.Feed("~\xe4\xb8", events);
  parser.Feed("\xad", events);
  EXPECT_EQ(events,
            (std::vector<Event>{Event::Character('x'), Event::PageDown, Event::Character("中")}));
  EXPECT_FALSE(parser.HasPending());
}

TEST(InputParserTest, EscapeFollowedByAnotherKey) {
  EXPECT_EQ(Decode("\x1bq"), (std::vector<Event>{Event::Escape, Event::Character('q')}));
  tui::InputParser parser;
  std::vector<Event> events;
  parser.Feed("\x1b\x1b", events);
  parser.Flush(events);
  EXPECT_EQ(events, (std::vector<Event>{Event::Escape, Event::Escape}));
  // Escape then '[' typed before the wait ran out: the Escape and the character survive.
  events.clear();
  parser.Feed("\x1b[", events);
  parser.Flush(events);
  EXPECT_EQ(events, (std::vector<Event>{Event::Escape, Event::Character('[')}));
}

TEST(InputParserTest, SgrMouseReports) {
  const Event press = DecodeOne("\x1b[<0;5;8M");
  ASSERT_TRUE(press.is_mouse());
  EXPECT_EQ(press.mouse().button, Mouse::Left);
  EXPECT_EQ(press.mouse().motion, Mouse::Pressed);
  EXPECT_EQ(press.mouse().x, 4);
  EXPECT_EQ(press.mouse().y, 7);

  const Event release = DecodeOne("\x1b[<2;300;1m");
  EXPECT_EQ(release.mouse().button, Mouse::Right);
  EXPECT_EQ(release.mouse().motion, Mouse::Released);
  EXPECT_EQ(release.mouse().x, 299);
  EXPECT_EQ(release.mouse().y, 0);

  EXPECT_EQ(DecodeOne("\x1b[<64;1;1M").mouse().button, Mouse::WheelUp);
  EXPECT_EQ(DecodeOne("\x1b[<65;1;1M").mouse().button, Mouse::WheelDown);
  EXPECT_EQ(DecodeOne("\x1b[<1;1;1M").mouse().button, Mouse::Middle);
  EXPECT_EQ(DecodeOne("\x1b[<32;2;2M").mouse().motion, Mouse::Moved);
  // Ctrl held (16) does not change the button.
  EXPECT_EQ(DecodeOne("\x1b[<16;1;1M").mouse().button, Mouse::Left);
  // A broken report is dropped whole.
  EXPECT_TRUE(Decode("\x1b[<0;5M").empty());
}

TEST(InputParserTest, X10MouseReports) {
  // Button byte 32 + 0, column 33 + 9, row 33 + 2.
  const Event press = DecodeOne(std::string("\x1b[M") + char(32) + char(42) + char(35));
  ASSERT_TRUE(press.is_mouse());
  EXPECT_EQ(press.mouse().button, Mouse::Left);
  EXPECT_EQ(press.mouse().motion, Mouse::Pressed);
  EXPECT_EQ(press.mouse().x, 9);
  EXPECT_EQ(press.mouse().y, 2);

  const Event release = DecodeOne(std::string("\x1b[M") + char(35) + char(33) + char(33));
  EXPECT_EQ(release.mouse().button, Mouse::None);
  EXPECT_EQ(release.mouse().motion, Mouse::Released);
  EXPECT_EQ(DecodeOne(std::string("\x1b[M") + char(96) + char(33) + char(33)).mouse().button,
            Mouse::WheelUp);

  tui::InputParser parser;
  std::vector<Event> events;
  parser.Feed("\x1b[M ", events);
  EXPECT_TRUE(parser.HasPending());
  parser.Feed("!!", events);
  ASSERT_EQ(events.size(), 1U);
  EXPECT_TRUE(events.front().is_mouse());
}

TEST(InputParserTest, EndlessSequencesAreNotWaitedForForever) {
  tui::InputParser parser;
  std::vector<Event> events;
  parser.Feed("\x1b[" + std::string(100, '1'), events);
  EXPECT_FALSE(parser.HasPending());
  parser.Feed("a", events);
  EXPECT_EQ(events.back(), Event::Character('a'));
}

}  // namespace
