#pragma once

// What the main thread's side of the sequence shares between its files. Main thread only.

#include <string>

#include "audio/track_sequence.h"

// A Player whose buffers the sequence fills, and which starts the follower once heard out.
Player* MakePlayer(TrackSequence& sequence, const AudioStreamBasicDescription& format);

// Writes lines kept for later to standard error, flushed.
void WriteLines(const std::string& lines);

void SetSuccessor(TrackSequence& sequence, Successor successor);

// The successor cannot play: said once the stream before it has been heard out, as LoadTrack's
// own `lines`, then `text` and its path.
void FailSuccessor(TrackSequence& sequence, const char* text, std::string lines = {});

// Once the stream has ended with a track loaded to follow it, that track gets a stream of its
// own, made and primed while the ended one is still heard, to start the moment it is heard out.
void MakeFollowerIfDue(TrackSequence& sequence);

// What the end of the stream brings, once it has been heard out: the follower, the successor's
// failure, or the end.
SequenceChange AfterPlayedOut(TrackSequence& sequence);
