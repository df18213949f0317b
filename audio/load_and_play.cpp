#include <string>

#include "audio/failure_line.h"
#include "audio/playback_state.h"
#include "audio/player.h"
#include "audio/track.h"

namespace {

void UnloadTrack(PlaybackState& state) {
  CloseTrack(&state.track);
  CloseTrack(&state.other_track);
  state.ahead_path.clear();
  state.track_loaded = false;
}

bool SameShape(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) {
  return a.mSampleRate == b.mSampleRate && a.mChannelsPerFrame == b.mChannelsPerFrame &&
         a.mBytesPerFrame == b.mBytesPerFrame;
}

// Its output is made and filled while the ended track plays out, so that it is heard as soon as
// it starts.
void PrimeNextPlayer(PlaybackState& state, AudioTrack* track, const std::string& path) {
  state.next_player = CreatePlayer(track);
  if (state.next_player == nullptr) {
    CloseTrack(track);
    return;
  }
  if (state.gapless) {
    AskForNextTracks(state.next_player);
  }
  if (!PrimePlayer(state.next_player)) {
    DropNextPlayer(state);
    return;
  }
  state.ahead_path = path;
  StartWhenPlayedOut(state.player, state.next_player);
}

}  // namespace

void DropNextPlayer(PlaybackState& state) {
  if (state.next_player == nullptr) {
    return;
  }
  AudioTrack* track = state.next_player->track;
  FreePlayer(state.next_player);
  state.next_player = nullptr;
  CloseTrack(track);
  state.ahead_path.clear();
}

bool StartNextPlayer(PlaybackState& state) {
  Player* next = state.next_player;
  state.next_player = nullptr;
  AudioTrack* ended = state.player->track;
  const bool started = HandOverTo(state.player, next);
  CloseTrack(ended);
  state.player = next;
  state.now_playing.swap(state.ahead_path);
  state.ahead_path.clear();
  if (!started) {
    WriteFailureLine("Failed to start playback for: ", state.now_playing);
    StopPlayback(state);
    return false;
  }
  return true;
}

const AudioTrack& PlayingTrack(const PlaybackState& state) {
  return state.player != nullptr && state.player->track != nullptr ? *state.player->track
                                                                   : state.track;
}

void PrepareNextTrack(PlaybackState& state, const std::string& path) {
  Player* player = state.player;
  AudioTrack* spare = player->track == &state.track ? &state.other_track : &state.track;
  if (path.empty() || LoadTrack(spare, path.c_str()) != 0) {
    GiveNextTrack(player, nullptr);
    return;
  }
  if (!SameShape(spare->client_format, player->track->client_format)) {
    PrimeNextPlayer(state, spare, path);
    GiveNextTrack(player, nullptr);
    return;
  }
  state.ahead_path = path;
  GiveNextTrack(player, spare);
}

bool FollowHeardTrack(PlaybackState& state) {
  if (state.player == nullptr) {
    return false;
  }
  AudioTrack* heard_before = TakeHeardTrack(state.player);
  if (heard_before == nullptr) {
    return false;
  }
  CloseTrack(heard_before);
  state.now_playing.swap(state.ahead_path);
  state.ahead_path.clear();
  return true;
}

double PlayingDuration(const PlaybackState& state) {
  if (!state.track_loaded || state.player == nullptr) {
    return 0.0;
  }
  return state.player->track != nullptr ? state.player->track->duration : -1.0;
}

void StopPlayback(PlaybackState& state) {
  // The Player first: once it is freed, nothing starts the one primed to follow it.
  if (state.player != nullptr) {
    FreePlayer(state.player);
    state.player = nullptr;
  }
  DropNextPlayer(state);
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
  if (state.gapless) {
    AskForNextTracks(state.player);
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
