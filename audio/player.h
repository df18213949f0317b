#pragma once

#include <atomic>

#include "audio/platform/audio_platform.h"
#include "audio/track.h"

// Three buffers in circulation per Player, each of 2^15 frames.
inline constexpr int kPlayerBufferCount = 3;
inline constexpr int kPlayerBufferFrameShift = 15;

// The output queue of one playing track. Created with calloc, released only by FreePlayer.
struct Player {
  AudioQueueRef queue;
  // Written on the audio thread at the end of the data; read on the main thread.
  std::atomic<bool> finished;
  // Set on the main thread by StartPlayer; cleared on the audio thread, after `finished` is set.
  std::atomic<bool> running;
  // Set before the queue starts; read-only after. Not owned.
  AudioTrack* track;
  AudioTimeStamp pause_stamp;  // Queue time at the last pause.
  Float64 paused_at;           // pause_stamp in seconds.
  // Written and read on the main thread only.
  std::atomic<bool> paused;
  Float64 paused_total;  // Seconds of queue time spent paused, summed.
  // Buffers enqueued and not yet handed back by the queue. Written on the audio thread (and on
  // the main thread while StartPlayer primes); read on the main thread.
  std::atomic<int> buffers_queued;
};

// A Player over a loaded track, ready to start; null on failure (only an allocation failure
// prints, "Failed to allocate Player").
Player* CreatePlayer(AudioTrack* track);

// Primes up to three buffers and starts the queue. False leaves the Player for FreePlayer.
bool StartPlayer(Player* player);

// The queue's refill routine for a buffer it has played: decodes into `buffer` and enqueues it,
// or marks the Player finished when the data has ended. Runs on the audio thread.
void RefillBuffer(void* player, AudioQueueRef queue, AudioQueueBufferRef buffer);

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
