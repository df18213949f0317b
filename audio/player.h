#pragma once

// The Player: the output queue of one stream of PCM in one format, and the buffers that
// circulate through it. It knows nothing of files or albums: its source does.
//
// Threads and locks:
// - The main thread creates, primes, starts, pauses, resumes and frees a Player, reads its
//   clock and resumes its filling.
// - The queue's refill thread runs RefillBuffer for each buffer heard, with `fill_lock` held
//   while the source fills it (the source may decode a whole buffer under it). The main thread
//   takes `fill_lock` too, for as long, when it primes or resumes the filling.
// - A follower (FollowPlayer) is started by whichever thread sees its predecessor heard out: the
//   predecessor's refill thread, or the main thread inside ResumeFilling or FollowPlayer; such a
//   start holds the predecessor's `follow_lock`, then the follower's `start_lock`. One held by
//   a pause is started by the main thread's ResumePlayer, under its `start_lock` alone. A start
//   does not wait for the server (AudioQueueStart only asks). The main thread takes a Player's
//   `start_lock` to pause, resume or free it, never across a call that waits for the server,
//   and never with `fill_lock`.
// - Lock order: `follow_lock` (the predecessor's), then `start_lock` (the follower's), then the
//   platform's queue locks. `fill_lock` is never held with either of the first two.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/platform/audio_platform.h"

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
// refill thread or on the main thread while it primes or resumes; `stream_frame` is where the
// buffer's first frame will stand in the output's stream (frames enqueued before it).
struct PcmSource {
  SourceFill (*fill)(void* context, AudioQueueBufferRef buffer, UInt64 stream_frame) = nullptr;
  void* context = nullptr;
};

// Created with calloc, released only by FreePlayer.
struct Player {
  AudioQueueRef queue;
  AudioStreamBasicDescription format;  // Set before the queue starts; read-only after.
  PcmSource source;                    // Likewise.
  // Set where the source says kEnded (refill or main thread); read anywhere.
  std::atomic<bool> finished;
  // Set when the queue starts, on the thread that starts it; cleared where `finished` is set
  // after the start, after it, and by FreePlayer.
  std::atomic<bool> running;
  // Paused, or held before its first start. Written on the main thread.
  std::atomic<bool> paused;
  // Written under `start_lock` (on the main thread, or where a follower starts); read anywhere.
  std::atomic<bool> started;
  // Buffers enqueued and not yet handed back. Written under `fill_lock` and on the refill
  // thread; read anywhere.
  std::atomic<int> buffers_queued;

  // Main thread only.
  AudioTimeStamp pause_stamp;  // Queue time at the last pause.
  Float64 paused_at;           // pause_stamp in seconds.
  Float64 paused_total;        // Seconds of queue time spent paused, summed, since the origin.
  UInt64 clock_origin;         // The stream frame the position counts from.
  Player* predecessor;         // The Player this one follows, until either is freed.

  // Guards the start of a Player that may start on another thread than the main one.
  std::mutex start_lock;
  bool primed;    // Filled and queued, not yet started.
  bool held;      // Paused before its start: whoever would start it leaves it.
  bool awaiting;  // Starts once its predecessor has been heard out.

  // Guards the hand-over to the Player that follows this one.
  std::mutex follow_lock;
  Player* follower;  // Started once this one has been heard out.
  bool handed_over;  // Heard out with its follower told, or freed: no follower starts later.

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
Player* CreatePlayer(const AudioStreamBasicDescription& format, PcmSource source);

// Primes up to three buffers and starts the queue. False leaves the Player for FreePlayer.
bool StartPlayer(Player* player);

// Primes the buffers without starting, so that a later start is heard at once: for a stream
// that is to follow one still playing out. False leaves the Player for FreePlayer.
bool PrimePlayer(Player* player);

// The primed `follower` starts the moment `predecessor` has been heard out (at once if it has
// been already), unless it is paused by then: then the resume starts it. Main thread.
void FollowPlayer(Player* follower, Player* predecessor);

// The queue's refill routine for a buffer it has played: the source fills it and it is enqueued,
// or it waits for ResumeFilling, or the Player ends. Runs on the refill thread.
void RefillBuffer(void* player, AudioQueueRef queue, AudioQueueBufferRef buffer);

// The source may have more now: the buffers waiting for it are filled and enqueued, in order.
void ResumeFilling(Player* player);

// Pauses a started Player; one not started yet is held instead: it does not start until
// ResumePlayer.
void PausePlayer(Player* player);
// Resumes a paused Player, or starts a held one whose predecessor has been heard out.
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

// Stops and disposes the queue and frees the Player; null is ignored. A follower of this
// Player that has not started by then no longer follows anything.
void FreePlayer(Player* player);
