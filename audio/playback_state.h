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
  // Held by value and never moved: a track's address is its audio file's client data. A chosen
  // file loads into `track`; the file that follows on the same output loads into whichever of
  // the two the Player is not playing, and the two change roles once it is heard.
  AudioTrack track;
  AudioTrack other_track;
  // The Player asks for the next track when the data ends (PrepareNextTrack), rather than
  // ending: set by main, left clear where a test drives one track at a time.
  bool gapless = false;
  // The file read ahead: the Player's track ahead, or the track of `next_player`.
  std::string ahead_path;
  // Owned: a Player primed for a next file of another format, waiting for the ended track to
  // be heard out. Null when none.
  Player* next_player = nullptr;
  std::string now_playing;
  double position = -1.0;  // Seconds; -1 when none can be read.
  double duration = 0.0;   // Seconds; 0 when nothing is loaded, -1 when the Player has no track.
};

// The length of what plays, in seconds: the Player's track's, -1 for a Player without a track,
// 0 when nothing is loaded.
double PlayingDuration(const PlaybackState& state);

// The track being heard: the Player's, or the one loaded last when there is none.
const AudioTrack& PlayingTrack(const PlaybackState& state);

// Answers the Player's ask for the next track with the file at `path`: loaded beside the
// playing one, it plays on after it on the same output when it decodes to the same format. One
// of another format ends the Player instead, and waits in `next_player`, its output made and
// primed; it starts the moment the ended track has been heard out, and StartNextPlayer makes it
// the Player. An empty path, or a file that fails to load, ends the Player:
// what follows is then chosen the usual way once the ended track has been heard.
void PrepareNextTrack(PlaybackState& state, const std::string& path);

// Once the ended track has been heard out: `next_player` takes over, started. False, with
// nothing playing, when its output does not start (after the usual line on standard error).
bool StartNextPlayer(PlaybackState& state);

// Frees `next_player` and closes its track. Only once the Player it follows has been freed.
void DropNextPlayer(PlaybackState& state);

// Once the track ahead is being heard: the one before it is closed, and `now_playing` names the
// new one. True when that happened.
bool FollowHeardTrack(PlaybackState& state);

// Frees the Player, then closes the track. The Player goes first: the audio thread reads the
// track through it.
void StopPlayback(PlaybackState& state);

// Stops what plays, loads `path` and starts it. False on any failure, after one line on
// standard error; nothing plays afterwards.
bool LoadAndPlay(PlaybackState& state, const std::string& path);
