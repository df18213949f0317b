#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tui/component/component.h"
#include "tui/component/loop.h"
#include "tui/component/screen_interactive.h"

namespace {

// Other threads post while the loop runs: every event arrives once, each thread's in order.
TEST(PostEventThreadTest, EventsFromOtherThreadsAllArriveInOrder) {
  constexpr int kThreads = 4;
  constexpr int kEventsPerThread = 2000;
  tui::ScreenInteractive screen = tui::ScreenInteractive::FixedSize(10, 2);
  std::vector<int> next_expected(kThreads, 0);
  int received = 0;
  bool in_order = true;
  tui::Component root =
      tui::Renderer([] { return tui::text("x"); }) | tui::CatchEvent([&](tui::Event event) {
        const std::string& input = event.input();
        const int thread = input[0] - 'a';
        const int index = std::stoi(input.substr(1));
        in_order = in_order && index == next_expected[thread];
        next_expected[thread] = index + 1;
        ++received;
        return true;
      });
  tui::Loop loop(&screen, root);

  std::atomic<int> finished{0};
  std::vector<std::thread> posters;
  for (int thread = 0; thread < kThreads; ++thread) {
    posters.emplace_back([&, thread] {
      for (int index = 0; index < kEventsPerThread; ++index) {
        screen.PostEvent(tui::Event::Character(std::string(1, static_cast<char>('a' + thread)) +
                                               std::to_string(index)));
      }
      ++finished;
    });
  }
  while (finished < kThreads) {
    loop.RunOnce();
  }
  loop.RunOnce();
  for (std::thread& poster : posters) {
    poster.join();
  }
  EXPECT_EQ(received, kThreads * kEventsPerThread);
  EXPECT_TRUE(in_order);
}

}  // namespace
