#pragma once

#include <string>

#include "audio/track.h"
#include "audio/track_sequence.h"

// What main shares with its closures about the track that plays: the sequence of tracks, and
// what the screen shows of it. Closures hold references to the one instance, never copies.
struct PlaybackState : TrackSequence {
  std::string now_playing;  // The heard track's path; the screen rebuilds it from its tags.
  double position = -1.0;   // Seconds; -1 when none can be read.
  double duration = 0.0;    // Seconds; 0 when nothing is loaded.
};

// The length of the heard track in seconds; 0 when nothing is loaded.
double PlayingDuration(const PlaybackState& state);

// The heard track; an empty one when nothing is loaded.
const AudioTrack& PlayingTrack(const PlaybackState& state);

// Frees the Players, then closes the tracks: the refill thread reads a track through its Player.
void StopPlayback(PlaybackState& state);

// Stops what plays, loads `path` on this thread and starts it. False on any failure, after one
// line on standard error; nothing plays afterwards.
bool LoadAndPlay(PlaybackState& state, const std::string& path);

// Chooses `path`: it is read off the main thread and plays once it is there (see ChooseFile);
// StepPlayback tells when.
void ChooseTrack(PlaybackState& state, const std::string& path);

// The pass's step of the sequence (StepSequence), with the now-playing path kept in step.
SequenceChange StepPlayback(PlaybackState& state);
