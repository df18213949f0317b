#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/platform/audio_platform.h"
#include "audio/track.h"

// Three buffers in circulation per Player, each of 2^15 frames.
inline constexpr int kPlayerBufferCount = 3;
inline constexpr int kPlayerBufferFrameShift = 15;

// What a source made of a buffer it was asked to fill.
enum class SourceFill {
  kFilled,  // PCM in mAudioData, mAudioDataByteSize set.
  kLater,   // Nothing now, more to come: the buffer waits for ResumeFilling.
  kEnded,   // Nothing more, ever: the Player ends once what is queued has been heard.
};

// Where a Player's PCM comes from. `fill` is called with the Player's fill lock held, on the
// refill thread or on the thread that primes or resumes; `stream_frame` is where the buffer's
// first frame will stand in the output's stream (frames enqueued before it).
struct PcmSource {
  SourceFill (*fill)(void* context, AudioQueueBufferRef buffer, UInt64 stream_frame) = nullptr;
  void* context = nullptr;
};

// Called on the refill thread when a Player that has ended has handed back its last buffer:
// everything it played has been heard. With no lock held.
struct PlayedOutHook {
  void (*call)(void* context) = nullptr;
  void* context = nullptr;
};

// The output queue of one stream of PCM in one format, and the buffers that circulate through it.
// It knows nothing of files or albums: its source does. Created with calloc, released only by
// FreePlayer.
struct Player {
  AudioQueueRef queue;
  AudioStreamBasicDescription format;  // Set before the queue starts; read-only after.
  PcmSource source;                    // Likewise.
  PlayedOutHook played_out_hook;       // Likewise.
  // Set on the refill thread (or wherever the source says kEnded) at the end of the data; read
  // on the main thread.
  std::atomic<bool> finished;
  // Set on the main thread by StartPlayer; cleared where `finished` is set, after it.
  std::atomic<bool> running;
  // Main thread only, as the fields below it.
  std::atomic<bool> paused;
  AudioTimeStamp pause_stamp;  // Queue time at the last pause.
  Float64 paused_at;           // pause_stamp in seconds.
  Float64 paused_total;        // Seconds of queue time spent paused, summed, since the origin.
  UInt64 clock_origin;         // The stream frame the position counts from.
  bool primed;                 // Filled and queued, not yet started: StartPlayer only starts.
  bool started;                // The queue has been started (a held Player's has not, yet).
  // Buffers enqueued and not yet handed back. Written under `fill_lock` and on the refill
  // thread; read anywhere.
  std::atomic<int> buffers_queued;

  // Held while a buffer is filled and enqueued, so that the stream keeps the order in which
  // its PCM was made; guards what follows.
  std::mutex fill_lock;
  UInt64 enqueued_frames;  // Since the queue was made.
  // Buffers the source had nothing for yet (kLater), waiting for ResumeFilling.
  AudioQueueBufferRef waiting[kPlayerBufferCount];
  int waiting_count;
};

// A Player in `format` whose buffers `source` fills, ready to start; null on failure (only an
// allocation failure prints, "Failed to allocate Player").
Player* CreatePlayer(const AudioStreamBasicDescription& format, PcmSource source,
                     PlayedOutHook played_out_hook = {});

// A Player that plays `track` alone, from its decoder, and ends with it.
Player* CreatePlayer(AudioTrack* track);

// Decodes the next stretch of `track` into `buffer`: kFilled, or kEnded at the end of its data
// or on a read error.
SourceFill DecodeTrackInto(AudioTrack* track, AudioQueueBufferRef buffer);

// Primes up to three buffers and starts the queue. False leaves the Player for FreePlayer.
bool StartPlayer(Player* player);

// Primes the buffers without starting, so that a later StartPlayer is heard at once: for a
// stream that is to follow one still playing out. False leaves the Player for FreePlayer.
bool PrimePlayer(Player* player);

// A primed Player counts as started and paused: the first ResumePlayer starts it.
void HoldPlayer(Player* player);

// The queue's refill routine for a buffer it has played: the source fills it and it is enqueued,
// or it waits for ResumeFilling, or the Player ends. Runs on the refill thread.
void RefillBuffer(void* player, AudioQueueRef queue, AudioQueueBufferRef buffer);

// The source may have more now: the buffers waiting for it are filled and enqueued, in order.
void ResumeFilling(Player* player);

void PausePlayer(Player* player);
void ResumePlayer(Player* player);

// True once the data has ended and the queue has handed back every buffer it held: nothing more
// is left to be heard.
bool PlayerPlayedOut(const Player* player);

// True while something is left to be heard: the output has started and has not played out,
// whether or not the data has ended.
bool PlayerAudible(const Player* player);

// Frames of the stream heard so far (the queue's clock); false when the queue cannot tell.
bool PlayerHeardFrames(Player* player, UInt64* frames);

// From now on the position counts from `stream_frame`, paused spans before it forgotten.
void SetPlayerClockOrigin(Player* player, UInt64 stream_frame);

// Seconds played since the clock's origin, paused spans left out, also while the queue plays
// out what it holds after the data has ended; -1 when the queue is missing, not started, played
// out, or cannot tell.
Float64 PlayerCurrentTime(Player* player);

// Stops and disposes the queue and frees the Player; null is ignored.
void FreePlayer(Player* player);
