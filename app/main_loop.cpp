#include "app/main_loop.h"

#include <thread>

void RunMainLoop(tui::Loop& loop, tui::ScreenInteractive& screen) {
  while (!loop.HasQuitted()) {
    loop.RunOnce();
    // A pass that quit goes straight to the teardown: Escape ends the program a pace sooner.
    if (loop.HasQuitted()) {
      break;
    }
    screen.PostEvent(tui::Event::Custom);
    std::this_thread::sleep_for(kFrameInterval);
  }
}
