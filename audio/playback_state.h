#pragma once

#include <string>

#include "audio/track_sequence.h"

// What main shares with its closures about the track that plays: the sequence of tracks, and
// what the screen shows of it. Closures hold references to the one instance, never copies.
struct PlaybackState {
  TrackSequence sequence;
  HeardSnapshot heard;      // As of the latest pass.
  std::string now_playing;  // Built from the heard track's tags; its path when it has no title.
};

// Stops what plays and forgets what was shown of it.
void StopPlayback(PlaybackState& state);

// Stops what plays, loads `path` on this thread and starts it. False on any failure, after one
// line on standard error; nothing plays afterwards.
bool LoadAndPlay(PlaybackState& state, const std::string& path);

// One pass of the sequence (TrackSequence::Step) with `listing`, and the now-playing line
// rebuilt from what is heard.
void StepPlayback(PlaybackState& state, const FileOnListing& listing);
