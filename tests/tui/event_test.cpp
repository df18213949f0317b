#include "tui/component/event.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using tui::Event;

std::vector<Event> NamedEvents() {
  return {Event::ArrowLeft, Event::ArrowRight, Event::ArrowUp, Event::ArrowDown, Event::Backspace,
          Event::Return,    Event::Escape,     Event::Tab,     Event::Home,      Event::End,
          Event::PageUp,    Event::PageDown,   Event::Custom};
}

TEST(EventTest, NamedEventsAreAllDifferent) {
  const std::vector<Event> named = NamedEvents();
  for (size_t a = 0; a < named.size(); ++a) {
    for (size_t b = 0; b < named.size(); ++b) {
      EXPECT_EQ(named[a] == named[b], a == b) << a << " vs " << b;
    }
  }
}

TEST(EventTest, EqualityComparesTheInputText) {
  EXPECT_EQ(Event::Character(' '), Event::Character(" "));
  EXPECT_EQ(Event::Special("\x1b[A"), Event::ArrowUp);
  EXPECT_FALSE(Event::Character('a') == Event::Character('b'));
  EXPECT_FALSE(Event::Character(' ') == Event::Custom);
  // A copy of the custom event, as the main loop posts it, is still the custom event.
  const Event copy = Event::Custom;
  EXPECT_EQ(copy, Event::Custom);
}

TEST(EventTest, CharactersKnowTheirText) {
  const Event event = Event::Character("é");
  EXPECT_TRUE(event.is_character());
  EXPECT_FALSE(event.is_mouse());
  EXPECT_EQ(event.character(), "é");
  EXPECT_FALSE(Event::Escape.is_character());
}

TEST(EventTest, MouseEventsCarryTheReportAndEqualNoKey) {
  tui::Mouse mouse;
  mouse.button = tui::Mouse::Left;
  mouse.motion = tui::Mouse::Pressed;
  mouse.x = 4;
  mouse.y = 7;
  const Event event = Event::FromMouse("\x1b[<0;5;8M", mouse);
  EXPECT_TRUE(event.is_mouse());
  EXPECT_FALSE(event.is_character());
  EXPECT_EQ(event.mouse().button, tui::Mouse::Left);
  EXPECT_EQ(event.mouse().motion, tui::Mouse::Pressed);
  EXPECT_EQ(event.mouse().x, 4);
  EXPECT_EQ(event.mouse().y, 7);
  for (const Event& named : NamedEvents()) {
    EXPECT_FALSE(event == named);
  }
}

}  // namespace
