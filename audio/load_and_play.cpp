#include <cstdio>
#include <string>

#include "audio/playback_state.h"
#include "audio/player.h"
#include "audio/track.h"

namespace {

// One failure line, `text` then the path and a newline, written whole and flushed at once.
void ReportFailure(const char* text, const std::string& path) {
  std::string line = text + path + '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void UnloadTrack(PlaybackState& state) {
  CloseTrack(&state.track);
  state.track_loaded = false;
}

}  // namespace

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
    ReportFailure("Failed to load: ", path);
    return false;
  }
  state.track_loaded = true;
  state.player = CreatePlayer(&state.track);
  if (state.player == nullptr) {
    ReportFailure("Failed to create player for: ", path);
    UnloadTrack(state);
    return false;
  }
  if (!StartPlayer(state.player)) {
    ReportFailure("Failed to start playback for: ", path);
    FreePlayer(state.player);
    state.player = nullptr;
    UnloadTrack(state);
    return false;
  }
  state.now_playing = path;
  return true;
}
