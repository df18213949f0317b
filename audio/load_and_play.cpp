#include <string>

#include "audio/playback_state.h"

namespace {

// Built in place: the line keeps its room from pass to pass.
void RebuildNowPlaying(PlaybackState& state) {
  const TrackMetadata& tags = state.heard.tags;
  std::string& line = state.now_playing;
  if (tags.title.empty()) {
    line.assign(state.heard.path);
    return;
  }
  line.assign(tags.title);
  if (!tags.artist.empty()) {
    line.append(" | ").append(tags.artist);
  }
  if (!tags.year.empty()) {
    line.append(" (").append(tags.year).append(")");
  }
  if (!tags.genre.empty()) {
    line.append(" /").append(tags.genre).append("/");
  }
}

}  // namespace

void StopPlayback(PlaybackState& state) {
  state.sequence.Stop();
  state.heard = HeardSnapshot{};
  state.now_playing.clear();
}

bool LoadAndPlay(PlaybackState& state, const std::string& path) {
  const bool started = state.sequence.PlayNow(path);
  // What is heard shows at once, before the first pass.
  state.sequence.Snapshot(state.heard);
  RebuildNowPlaying(state);
  return started;
}

void StepPlayback(PlaybackState& state, const FileOnListing& listing) {
  state.sequence.Step(listing, state.heard);
  RebuildNowPlaying(state);
}
