#include "audio/player.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr char kAllocationFailure[] = "Failed to allocate Player\n";

// A zero-filled Player from calloc, its members' lifetime begun; null when memory runs out.
Player* AllocatePlayer() {
  void* memory = std::calloc(1, sizeof(Player));
  if (memory == nullptr) {
    std::fwrite(kAllocationFailure, 1, sizeof(kAllocationFailure) - 1, stderr);
    return nullptr;
  }
  return new (memory) Player{};
}

void ReleasePlayer(Player* player) {
  player->~Player();
  std::free(player);
}

// The end of the data (or a read error): `finished` goes up before `running` comes down, so
// the main thread never sees the stream stopped without it being finished. Queued buffers
// still play out.
void EndOfData(Player* player) {
  if (player->finished.exchange(true)) {
    return;
  }
  player->running.store(false);
  AudioQueueStop(player->queue, false);
}

void Enqueue(Player* player, AudioQueueBufferRef buffer) {
  // Counted before the enqueue, since the queue may hand it back before the call returns.
  player->buffers_queued.fetch_add(1);
  if (AudioQueueEnqueueBuffer(player->queue, buffer, 0, nullptr) != noErr) {
    player->buffers_queued.fetch_sub(1);
    return;
  }
  player->enqueued_frames += buffer->mAudioDataByteSize / player->format.mBytesPerFrame;
}

// Has the source fill `buffer`, and enqueues it, keeps it waiting, or ends the Player. False
// when the source had nothing for it. Fill lock held.
bool FillLocked(Player* player, AudioQueueBufferRef buffer) {
  if (player->finished.load()) {
    return false;
  }
  switch (player->source.fill(player->source.context, buffer, player->enqueued_frames)) {
    case SourceFill::kFilled:
      Enqueue(player, buffer);
      return true;
    case SourceFill::kLater:
      player->waiting[player->waiting_count++] = buffer;
      return false;
    case SourceFill::kEnded:
      EndOfData(player);
      return false;
  }
  return false;
}

// Starts a primed queue. `start_lock` held.
bool StartLocked(Player* player) {
  if (player->started.load() || AudioQueueStart(player->queue, nullptr) != noErr) {
    return false;
  }
  player->primed = false;
  player->started.store(true);
  player->running.store(true);
  return true;
}

// The predecessor has been heard out: its follower starts, unless a pause holds it.
void PredecessorPlayedOut(Player* follower) {
  std::lock_guard<std::mutex> lock(follower->start_lock);
  follower->awaiting = false;
  if (!follower->held) {
    StartLocked(follower);
  }
}

// Once the Player has been heard out, its follower is told, once. On the thread that saw it.
void HandOverIfPlayedOut(Player* player) {
  if (!PlayerPlayedOut(player)) {
    return;
  }
  std::lock_guard<std::mutex> lock(player->follow_lock);
  if (player->handed_over) {
    return;
  }
  player->handed_over = true;
  if (player->follower != nullptr) {
    PredecessorPlayedOut(player->follower);
  }
}

}  // namespace

Player* CreatePlayer(const AudioStreamBasicDescription& format, PcmSource source) {
  if (source.fill == nullptr) {
    return nullptr;
  }
  Player* player = AllocatePlayer();
  if (player == nullptr) {
    return nullptr;
  }
  player->format = format;
  player->source = source;
  player->finished.store(true);
  if (AudioQueueNewOutput(&player->format, RefillBuffer, player, nullptr, nullptr, 0,
                          &player->queue) != noErr) {
    ReleasePlayer(player);
    return nullptr;
  }
  if (AudioQueueSetParameter(player->queue, kAudioQueueParam_Volume, 1.0F) != noErr) {
    AudioQueueDispose(player->queue, true);
    ReleasePlayer(player);
    return nullptr;
  }
  player->finished.store(false);
  return player;
}

bool PrimePlayer(Player* player) {
  {
    std::lock_guard<std::mutex> lock(player->start_lock);
    if (player->queue == nullptr || player->started.load() || player->finished.load() ||
        player->primed) {
      return false;
    }
  }
  const UInt32 capacity = player->format.mBytesPerFrame << kPlayerBufferFrameShift;
  for (int i = 0; i < kPlayerBufferCount && !player->finished.load(); ++i) {
    AudioQueueBufferRef buffer = nullptr;
    if (AudioQueueAllocateBuffer(player->queue, capacity, &buffer) != noErr) {
      return false;
    }
    std::lock_guard<std::mutex> lock(player->fill_lock);
    FillLocked(player, buffer);
  }
  std::lock_guard<std::mutex> lock(player->start_lock);
  player->primed = true;
  return true;
}

bool StartPlayer(Player* player) {
  // A primed Player starts even when its data ended while it was primed.
  bool primed = false;
  {
    std::lock_guard<std::mutex> lock(player->start_lock);
    if (player->queue == nullptr || player->started.load()) {
      return false;
    }
    primed = player->primed;
  }
  if (!primed && !PrimePlayer(player)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(player->start_lock);
  return StartLocked(player);
}

void FollowPlayer(Player* follower, Player* predecessor) {
  {
    std::lock_guard<std::mutex> lock(follower->start_lock);
    follower->awaiting = true;
  }
  follower->predecessor = predecessor;
  std::lock_guard<std::mutex> lock(predecessor->follow_lock);
  predecessor->follower = follower;
  // Heard out already: nobody else will tell it.
  if (predecessor->handed_over) {
    PredecessorPlayedOut(follower);
  }
}

// Runs on the refill thread: the queue hands back a buffer it has played. A buffer handed back
// while paused is refilled like any other (the paused queue keeps it until the resume): one
// dropped here would leave circulation for good, and three would starve the output.
void RefillBuffer(void* user_data, AudioQueueRef /*queue*/, AudioQueueBufferRef buffer) {
  auto* player = static_cast<Player*>(user_data);
  player->buffers_queued.fetch_sub(1);
  {
    std::lock_guard<std::mutex> lock(player->fill_lock);
    FillLocked(player, buffer);
  }
  HandOverIfPlayedOut(player);
}

void ResumeFilling(Player* player) {
  {
    std::lock_guard<std::mutex> lock(player->fill_lock);
    // Oldest first: a buffer is taken from the front, the rest move up.
    while (player->waiting_count > 0 && !player->finished.load()) {
      AudioQueueBufferRef buffer = player->waiting[0];
      --player->waiting_count;
      for (int i = 0; i < player->waiting_count; ++i) {
        player->waiting[i] = player->waiting[i + 1];
      }
      if (!FillLocked(player, buffer)) {
        break;
      }
    }
  }
  // The data may have ended here with nothing queued: no refill will come to tell the follower.
  HandOverIfPlayedOut(player);
}

bool PlayerPlayedOut(const Player* player) {
  // `finished` first: once it is set nothing more is enqueued, so the count only goes down.
  return player->finished.load() && player->buffers_queued.load() == 0;
}

bool PlayerAudible(const Player* player) {
  return (player->running.load() || player->finished.load()) && !PlayerPlayedOut(player);
}

void PausePlayer(Player* player) {
  if (player->queue == nullptr || player->paused.load()) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(player->start_lock);
    if (!player->started.load()) {
      player->held = true;
      player->pause_stamp = AudioTimeStamp{};
      player->paused_at = 0;
      player->paused.store(true);
      return;
    }
  }
  if (AudioQueueGetCurrentTime(player->queue, nullptr, &player->pause_stamp, nullptr) != noErr) {
    return;
  }
  player->paused_at = player->pause_stamp.mSampleTime / player->format.mSampleRate;
  if (AudioQueuePause(player->queue) != noErr) {
    return;
  }
  // The pause waits for the server to take it, and the clock then stands where the sound
  // stopped: read again, so that the resume finds it there and no span is counted as paused
  // that was heard.
  AudioTimeStamp stopped{};
  if (AudioQueueGetCurrentTime(player->queue, nullptr, &stopped, nullptr) == noErr) {
    player->pause_stamp = stopped;
    player->paused_at = stopped.mSampleTime / player->format.mSampleRate;
  }
  player->paused.store(true);
}

void ResumePlayer(Player* player) {
  if (player->queue == nullptr) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(player->start_lock);
    if (!player->started.load()) {
      player->held = false;
      player->paused.store(false);
      if (player->primed && !player->awaiting) {
        StartLocked(player);
      }
      return;
    }
  }
  if (AudioQueueStart(player->queue, &player->pause_stamp) != noErr) {
    return;
  }
  AudioTimeStamp now{};
  if (AudioQueueGetCurrentTime(player->queue, nullptr, &now, nullptr) != noErr) {
    return;
  }
  player->paused_total += now.mSampleTime / player->format.mSampleRate - player->paused_at;
  player->paused.store(false);
}

bool PlayerHeardFrames(Player* player, UInt64* frames) {
  AudioTimeStamp now{};
  if (player->queue == nullptr ||
      AudioQueueGetCurrentTime(player->queue, nullptr, &now, nullptr) != noErr) {
    return false;
  }
  *frames = static_cast<UInt64>(now.mSampleTime);
  return true;
}

void SetPlayerClockOrigin(Player* player, UInt64 stream_frame) {
  player->clock_origin = stream_frame;
  player->paused_total = 0;
}

Float64 PlayerCurrentTime(Player* player) {
  // The position runs on while the queue plays what it still holds after the data has ended;
  // it is gone before the start and once all has been heard.
  if (player->queue == nullptr || !player->started.load() || PlayerPlayedOut(player)) {
    return -1;
  }
  AudioTimeStamp now{};
  if (AudioQueueGetCurrentTime(player->queue, nullptr, &now, nullptr) != noErr) {
    return -1;
  }
  return (now.mSampleTime - static_cast<Float64>(player->clock_origin)) /
             player->format.mSampleRate -
         player->paused_total;
}

void FreePlayer(Player* player) {
  if (player == nullptr) {
    return;
  }
  if (player->predecessor != nullptr) {
    std::lock_guard<std::mutex> lock(player->predecessor->follow_lock);
    player->predecessor->follower = nullptr;
  }
  // Its follower is let go first: a Player that is stopped is not heard out, and nothing may
  // start from it.
  Player* follower = nullptr;
  {
    std::lock_guard<std::mutex> lock(player->follow_lock);
    follower = player->follower;
    player->follower = nullptr;
    player->handed_over = true;
  }
  if (follower != nullptr) {
    std::lock_guard<std::mutex> lock(follower->start_lock);
    follower->awaiting = false;
    follower->predecessor = nullptr;
  }
  bool was_running = false;
  {
    // Ended first, under the fill lock: a refill that comes after this fills nothing, so nothing
    // is enqueued on the stopped queue before it goes.
    std::lock_guard<std::mutex> lock(player->fill_lock);
    was_running = player->running.exchange(false);
    player->finished.store(true);
  }
  if (player->queue != nullptr && was_running) {
    AudioQueueStop(player->queue, true);
  }
  if (player->queue != nullptr) {
    // Immediate: once this returns no refill call runs or starts, so the Player can go.
    AudioQueueDispose(player->queue, true);
  }
  ReleasePlayer(player);
}
