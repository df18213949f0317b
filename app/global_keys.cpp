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
    ToggleThePause();
    return true;
  }
  if (event == tui::Event::Escape) {
    screen.ExitLoopClosure()();
    return true;
  }
  return false;
}

void HandleGlobalEvent::ToggleThePause() const {
  // On what is heard, up to its last frame, across a join, and on a track about to follow one
  // heard out, which then starts paused. The toggle flips even when the output refused: it
  // records what the user asked for.
  if (browser.paused) {
    playback.sequence.ResumeHeard();
    browser.paused = false;
  } else if (playback.sequence.PauseHeard()) {
    browser.paused = true;
  }
}
