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
    if (player != nullptr) {
      ToggleThePause();
    }
    return true;
  }
  if (event == tui::Event::Escape) {
    screen.ExitLoopClosure()();
    return true;
  }
  return false;
}

void HandleGlobalEvent::ToggleThePause() const {
  // Up to the last frame heard, also once the data has ended and the queue plays out what it
  // holds. The toggle flips even when the output refused: it records what the user asked for.
  if (browser.paused) {
    // A pause that met the end of the track has nothing left to resume.
    if (PlayerAudible(player)) {
      ResumePlayer(player);
    }
    browser.paused = false;
  } else if (PlayerAudible(player)) {
    PausePlayer(player);
    browser.paused = true;
  } else if (player->finished) {
    // Heard out, and the next file starts at the next frame: the pause is for what is heard.
    browser.paused = true;
  }
}
