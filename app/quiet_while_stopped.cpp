#include "app/quiet_while_stopped.h"

#include <memory>

tui::SuspendHooks QuietWhileStopped(PlaybackState& playback, const FileBrowserState& browser) {
  // Whether what is heard was paused for the stop: only then is it resumed.
  auto paused_for_stop = std::make_shared<bool>(false);
  tui::SuspendHooks hooks;
  hooks.stopping = [&playback, &browser, paused_for_stop] {
    *paused_for_stop = !browser.paused && playback.sequence.PauseHeard();
  };
  hooks.continued = [&playback, paused_for_stop] {
    if (*paused_for_stop) {
      playback.sequence.ResumeHeard();
    }
    *paused_for_stop = false;
  };
  return hooks;
}
