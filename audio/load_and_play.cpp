#include <string>

#include "audio/failure_line.h"
#include "audio/playback_state.h"
#include "audio/track.h"

double PlayingDuration(const PlaybackState& state) {
  return state.track_loaded && state.heard != nullptr ? state.heard->track->duration : 0.0;
}

const AudioTrack& PlayingTrack(const PlaybackState& state) {
  static const AudioTrack kNone;
  return state.heard != nullptr ? *state.heard->track : kNone;
}

void StopPlayback(PlaybackState& state) {
  StopSequence(state);
  state.now_playing.clear();
}

bool LoadAndPlay(PlaybackState& state, const std::string& path) {
  StopPlayback(state);
  OwnedTrack track(new AudioTrack);
  if (LoadTrack(track.get(), path.c_str()) != 0) {
    WriteFailureLine("Failed to load: ", path);
    return false;
  }
  if (!StartSequence(state, std::move(track), path)) {
    return false;
  }
  state.now_playing = path;
  return true;
}

void ChooseTrack(PlaybackState& state, const std::string& path) { ChooseFile(state, path); }

SequenceChange StepPlayback(PlaybackState& state) {
  SequenceChange change = StepSequence(state);
  switch (change.kind) {
    case SequenceChangeKind::kStarted:
    case SequenceChangeKind::kMovedOn:
      state.now_playing = change.path;
      break;
    case SequenceChangeKind::kStopped:
      state.now_playing.clear();
      break;
    default:
      break;
  }
  return change;
}
