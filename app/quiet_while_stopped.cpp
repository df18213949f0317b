#include "app/quiet_while_stopped.h"

#include <memory>

tui::SuspendHooks QuietWhileStopped(PlaybackState& playback, const FileBrowserState& browser) {
  // The Player paused for the stop, if any: only that one is resumed, and only if it still
  // plays when the process goes on.
  auto paused_for_stop = std::make_shared<Player*>(nullptr);
  tui::SuspendHooks hooks;
  hooks.stopping = [&playback, &browser, paused_for_stop] {
    Player* player = playback.player;
    if (player != nullptr && !browser.paused && PlayerAudible(player)) {
      PausePlayer(player);
      if (player->paused.load()) {
        *paused_for_stop = player;
      }
    }
  };
  hooks.continued = [&playback, paused_for_stop] {
    if (*paused_for_stop != nullptr && *paused_for_stop == playback.player) {
      ResumePlayer(playback.player);
    }
    *paused_for_stop = nullptr;
  };
  return hooks;
}
