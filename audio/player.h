#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "audio/platform/audio_platform.h"
#include "audio/track.h"

// Three buffers in circulation per Player, each of 2^15 frames.
inline constexpr int kPlayerBufferCount = 3;
inline constexpr int kPlayerBufferFrameShift = 15;

// What the decoding side does once the data of the track it decodes has ended.
enum NextTrackState : int {
  kEndAlone,    // The Player ends: a Player not told otherwise plays one track.
  kAskNext,     // It asks the main thread for the track that follows, through kNextWanted.
  kNextWanted,  // Asked, not yet answered: nothing is decoded until the main thread answers.
  kCancelled,   // The Player is being freed: a refill waiting for an answer returns at once.
};

// The output queue of one playing track, and of the tracks that follow it on the same output
// when they decode to the same format. Created with calloc, released only by FreePlayer.
struct Player {
  AudioQueueRef queue;
  // Written on the audio thread at the end of the data; read on the main thread.
  std::atomic<bool> finished;
  // Set on the main thread by StartPlayer; cleared on the audio thread, after `finished` is set.
  std::atomic<bool> running;
  // The track being heard: read and written on the main thread only. Not owned.
  AudioTrack* track;
  AudioTimeStamp pause_stamp;  // Queue time at the last pause.
  Float64 paused_at;           // pause_stamp in seconds.
  // Written and read on the main thread only.
  std::atomic<bool> paused;
  Float64 paused_total;  // Seconds of queue time spent paused, summed.
  // Buffers enqueued and not yet handed back by the queue. Written on the audio thread (and on
  // the main thread while StartPlayer primes); read on the main thread.
  std::atomic<int> buffers_queued;

  // Decoding hands over between the refill thread and the main thread through `next_state`:
  // the refill thread decodes only while it is not kNextWanted, the main thread only while it
  // is. The fields below belong to whichever side decodes.
  std::atomic<int> next_state;
  AudioTrack* decoding;    // The track read into the buffers: `track`, or the one after it.
  UInt64 enqueued_frames;  // Frames enqueued since the queue was made.
  // Buffers that came back at the end of the data on the main thread, which cannot wait for its
  // own answer: refilled from the next track when it comes.
  AudioQueueBufferRef held[kPlayerBufferCount];
  int held_count;
  std::thread::id main_thread;  // Where the Player was made: the thread that answers.

  // Main thread only: the track that follows `track` in the stream, decided but not yet heard,
  // and the stream's frame it begins at; then the frame `track` began at.
  AudioTrack* ahead;
  UInt64 ahead_start;
  UInt64 track_start;
  bool primed;  // Filled and queued, not yet started: StartPlayer only starts the queue.

  // A primed Player that starts from the refill thread the moment this one is heard out, so
  // that it does not wait for the main loop's next pass; taken back by HandOverTo otherwise.
  std::atomic<Player*> follower;
  // Whether it was started so: 0 not, 1 started, -1 the start failed.
  std::atomic<int> started_early;
};

// A Player over a loaded track, ready to start; null on failure (only an allocation failure
// prints, "Failed to allocate Player").
Player* CreatePlayer(AudioTrack* track);

// Primes up to three buffers and starts the queue. False leaves the Player for FreePlayer.
bool StartPlayer(Player* player);

// Primes the buffers without starting, so that a later StartPlayer is heard at once: for a
// track that is to follow one still playing out. False leaves the Player for FreePlayer.
bool PrimePlayer(Player* player);

// The queue's refill routine for a buffer it has played: decodes into `buffer` and enqueues it,
// or marks the Player finished when the data has ended. Runs on the audio thread.
void RefillBuffer(void* player, AudioQueueRef queue, AudioQueueBufferRef buffer);

// From now on the end of the data asks for the next track (PlayerWantsNextTrack) rather than
// ending the Player. Called before StartPlayer.
void AskForNextTracks(Player* player);

// True when the data has ended and the decoding side waits for GiveNextTrack, which is due
// once the track ahead, if any, has been heard. Main thread.
bool PlayerWantsNextTrack(const Player* player);

// Answers the ask: `next` (a loaded track in the same client format) plays on after the last
// frame of the ended one, on the same output; null ends the Player as the end of its data
// does. `next` stays the caller's and must outlive its use: it is `player->ahead` until it is
// heard, then `player->track`.
void GiveNextTrack(Player* player, AudioTrack* next);

// When the first frame of the track ahead has been heard, it becomes `track`, its clock starts
// at 0, and the one it followed is handed back for the caller to close; null otherwise.
AudioTrack* TakeHeardTrack(Player* player);

// `next` (primed) starts as soon as `player`, whose data has ended, has been heard out.
void StartWhenPlayedOut(Player* player, Player* next);

// Frees `player`, heard out, and makes `next`, its follower, the one that plays: started then,
// unless it has been started already. False when its output does not start.
bool HandOverTo(Player* player, Player* next);

void PausePlayer(Player* player);
void ResumePlayer(Player* player);

// True once the data has ended and the queue has handed back every buffer it held: nothing more
// of the track is left to be heard.
bool PlayerPlayedOut(const Player* player);

// True while something of the track is left to be heard: the output has started and has not
// played out, whether or not the data has ended.
bool PlayerAudible(const Player* player);

// Seconds played, paused spans left out, also while the queue plays out what it holds after the
// data has ended; -1 when the queue is missing, not started, played out, or cannot tell.
Float64 PlayerCurrentTime(Player* player);

// Stops and disposes the queue and frees the Player; null is ignored.
void FreePlayer(Player* player);
