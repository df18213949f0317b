#pragma once

#include <string>

#include "audio/player.h"
#include "audio/track.h"

// What main shares with its closures about the track that plays. Closures hold references to
// the one instance, never copies.
struct PlaybackState {
  PlaybackState() = default;
  PlaybackState(const PlaybackState&) = delete;
  PlaybackState& operator=(const PlaybackState&) = delete;

  Player* player = nullptr;  // Owned; freed only through StopPlayback.
  bool track_loaded = false;
  AudioTrack track;  // Held by value and never moved: its address is its audio file's client data.
  std::string now_playing;
  double position = -1.0;  // Seconds; -1 when none can be read.
  double duration = 0.0;   // Seconds; 0 when nothing is loaded, -1 when the Player has no track.
};

// The length of what plays, in seconds: the Player's track's, -1 for a Player without a track,
// 0 when nothing is loaded.
double PlayingDuration(const PlaybackState& state);

// Frees the Player, then closes the track. The Player goes first: the audio thread reads the
// track through it.
void StopPlayback(PlaybackState& state);

// Stops what plays, loads `path` and starts it. False on any failure, after one line on
// standard error; nothing plays afterwards.
bool LoadAndPlay(PlaybackState& state, const std::string& path);
