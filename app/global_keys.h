#pragma once

#include "audio/playback_state.h"
#include "browser/file_browser_state.h"
#include "tui/component/event.h"
#include "tui/component/screen_interactive.h"

// The keys that work everywhere: Space pauses and resumes, Escape quits, and while the tag
// overlay shows, Escape or Tab closes it and no event reaches the browser.
struct HandleGlobalEvent {
  FileBrowserState& browser;
  PlaybackState& playback;
  tui::ScreenInteractive& screen;

  bool operator()(tui::Event event) const;

 private:
  void ToggleThePause() const;
};
