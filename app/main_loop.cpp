#include "app/main_loop.h"

#include <thread>

void RunMainLoop(tui::Loop& loop, tui::ScreenInteractive& screen) {
  while (!loop.HasQuitted()) {
    loop.RunOnce();
    screen.PostEvent(tui::Event::Custom);
    std::this_thread::sleep_for(kFrameInterval);
  }
}
