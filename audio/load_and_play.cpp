#include <string>

#include "audio/failure_line.h"
#include "audio/playback_state.h"
#include "audio/player.h"
#include "audio/track.h"

namespace {

void UnloadTrack(PlaybackState& state) {
  CloseTrack(&state.track);
  state.track_loaded = false;
}

}  // namespace

double PlayingDuration(const PlaybackState& state) {
  if (!state.track_loaded || state.player == nullptr) {
    return 0.0;
  }
  return state.player->track != nullptr ? state.player->track->duration : -1.0;
}

void StopPlayback(PlaybackState& state) {
  if (state.player != nullptr) {
    FreePlayer(state.player);
    state.player = nullptr;
  }
  if (state.track_loaded) {
    UnloadTrack(state);
    state.now_playing.clear();
  }
}

bool LoadAndPlay(PlaybackState& state, const std::string& path) {
  StopPlayback(state);
  if (LoadTrack(&state.track, path.c_str()) != 0) {
    WriteFailureLine("Failed to load: ", path);
    return false;
  }
  state.track_loaded = true;
  state.player = CreatePlayer(&state.track);
  if (state.player == nullptr) {
    WriteFailureLine("Failed to create player for: ", path);
    UnloadTrack(state);
    return false;
  }
  if (!StartPlayer(state.player)) {
    WriteFailureLine("Failed to start playback for: ", path);
    FreePlayer(state.player);
    state.player = nullptr;
    UnloadTrack(state);
    return false;
  }
  state.now_playing = path;
  return true;
}
