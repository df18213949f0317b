#include "app/global_keys.h"

bool HandleGlobalEvent::operator()(tui::Event event) const {
  // While the overlay shows, nothing reaches the browser, not even the frame's custom event.
  if (browser.show_metadata) {
    if (event == tui::Event::Escape || event == tui::Event::Tab) {
      browser.show_metadata = false;
    }
    return true;
  }
  if (event == tui::Event::Character(' ')) {
    // Up to the last frame heard, also once the data has ended and the queue plays out what it
    // holds; and a pause is always undone, even one that met the end of the data.
    if (player != nullptr && (browser.paused || PlayerAudible(player))) {
      // The toggle flips even when the output refused: it records what the user asked for.
      if (browser.paused) {
        ResumePlayer(player);
        browser.paused = false;
      } else {
        PausePlayer(player);
        browser.paused = true;
      }
    }
    return true;
  }
  if (event == tui::Event::Escape) {
    screen.ExitLoopClosure()();
    return true;
  }
  return false;
}
