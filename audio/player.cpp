#include "audio/player.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

namespace {

constexpr char kAllocationFailure[] = "Failed to allocate Player\n";

// A zero-filled Player from calloc, its atomics' lifetime begun; null when memory runs out.
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
// the main thread never sees the track stopped without it being finished. Queued buffers
// still play out. Both sides may find the end at once; only the first stops the queue.
void EndOfData(Player* player, AudioQueueRef queue) {
  if (player->finished.exchange(true)) {
    return;
  }
  player->running.store(false);
  AudioQueueStop(queue, false);
}

// Decodes the next stretch of `decoding` into `buffer` and enqueues it; false, with nothing
// enqueued, once its data has ended (or on a read error).
bool DecodeInto(Player* player, AudioQueueRef queue, AudioQueueBufferRef buffer) {
  const AudioStreamBasicDescription& format = player->decoding->client_format;
  UInt32 frames =
      format.mBytesPerFrame == 0 ? 0 : buffer->mAudioDataBytesCapacity / format.mBytesPerFrame;
  AudioBufferList list{};
  list.mNumberBuffers = 1;
  list.mBuffers[0].mNumberChannels = format.mChannelsPerFrame;
  list.mBuffers[0].mDataByteSize = buffer->mAudioDataBytesCapacity;
  list.mBuffers[0].mData = buffer->mAudioData;
  OSStatus status = ExtAudioFileRead(player->decoding->decoder, &frames, &list);
  if (status != noErr || frames == 0) {
    return false;
  }
  buffer->mAudioDataByteSize = frames * format.mBytesPerFrame;
  // Counted before the enqueue, since the queue may hand it back before the call returns.
  player->buffers_queued.fetch_add(1);
  if (AudioQueueEnqueueBuffer(queue, buffer, 0, nullptr) != noErr) {
    player->buffers_queued.fetch_sub(1);
  } else {
    player->enqueued_frames += frames;
  }
  return true;
}

// Fills `buffer` from the track being decoded, going on to the next one when the main thread
// gives it, or ends the Player when the data has run out. Runs on the refill thread, which
// `can_wait` for the main thread's answer, and on the main thread (priming, or a test's queue
// played by hand), which keeps the buffer for the answer instead. A buffer handed back while
// paused is refilled like any other (the paused queue keeps it until the resume): one dropped
// here would leave circulation for good, and three would starve the output.
void FillBuffer(Player* player, AudioQueueRef queue, AudioQueueBufferRef buffer, bool can_wait) {
  while (!player->finished.load()) {
    const int state = player->next_state.load();
    if (state == kCancelled) {
      return;
    }
    if (state == kNextWanted) {
      if (!can_wait) {
        player->held[player->held_count++] = buffer;
        return;
      }
      player->next_state.wait(kNextWanted);
      continue;
    }
    if (DecodeInto(player, queue, buffer)) {
      return;
    }
    if (state == kEndAlone) {
      EndOfData(player, queue);
      return;
    }
    int asking = kAskNext;
    // Fails only when FreePlayer has cancelled meanwhile.
    player->next_state.compare_exchange_strong(asking, kNextWanted);
  }
}

// The answer to an ask has been given: a refill that waits for it goes on.
void Answer(Player* player, int state) {
  player->next_state.store(state);
  player->next_state.notify_all();
}

}  // namespace

Player* CreatePlayer(AudioTrack* track) {
  if (track == nullptr) {
    return nullptr;
  }
  Player* player = AllocatePlayer();
  if (player == nullptr) {
    return nullptr;
  }
  player->track = track;
  player->decoding = track;
  player->main_thread = std::this_thread::get_id();
  player->finished.store(true);
  if (AudioQueueNewOutput(&track->client_format, RefillBuffer, player, nullptr, nullptr, 0,
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
  if (player->queue == nullptr || player->running.load() || player->finished.load() ||
      player->primed) {
    return false;
  }
  const UInt32 capacity = player->track->client_format.mBytesPerFrame << kPlayerBufferFrameShift;
  for (int i = 0; i < kPlayerBufferCount && !player->finished.load(); ++i) {
    AudioQueueBufferRef buffer = nullptr;
    if (AudioQueueAllocateBuffer(player->queue, capacity, &buffer) != noErr) {
      return false;
    }
    FillBuffer(player, player->queue, buffer, false);
  }
  player->primed = true;
  return true;
}

bool StartPlayer(Player* player) {
  // A primed Player starts even when its data ended while it was primed.
  if (player->queue == nullptr || player->running.load() ||
      (!player->primed && !PrimePlayer(player))) {
    return false;
  }
  player->primed = false;
  if (AudioQueueStart(player->queue, nullptr) != noErr) {
    return false;
  }
  player->running.store(true);
  return true;
}

// Runs on the audio thread: the queue hands back a buffer it has played.
void RefillBuffer(void* user_data, AudioQueueRef queue, AudioQueueBufferRef buffer) {
  auto* player = static_cast<Player*>(user_data);
  const bool last = player->buffers_queued.fetch_sub(1) == 1;
  FillBuffer(player, queue, buffer, std::this_thread::get_id() != player->main_thread);
  if (last && player->finished.load()) {
    if (Player* next = player->follower.exchange(nullptr); next != nullptr) {
      next->started_early.store(AudioQueueStart(next->queue, nullptr) == noErr ? 1 : -1);
    }
  }
}

void StartWhenPlayedOut(Player* player, Player* next) { player->follower.store(next); }

bool HandOverTo(Player* player, Player* next) {
  const bool waiting = player->follower.exchange(nullptr) != nullptr;
  // Its refill thread ends here: a start it made has returned.
  FreePlayer(player);
  if (waiting) {
    return StartPlayer(next);
  }
  if (next->started_early.load() != 1) {
    return false;
  }
  next->primed = false;
  next->running.store(true);
  return true;
}

void AskForNextTracks(Player* player) { player->next_state.store(kAskNext); }

bool PlayerWantsNextTrack(const Player* player) {
  return !player->finished.load() && player->next_state.load() == kNextWanted &&
         player->ahead == nullptr;
}

void GiveNextTrack(Player* player, AudioTrack* next) {
  if (player->next_state.load() != kNextWanted) {
    return;  // Not asked, or freed meanwhile: the decoding side may be at work.
  }
  if (next == nullptr) {
    Answer(player, kEndAlone);
    // Nothing in flight would bring a buffer back to find the end.
    if (player->buffers_queued.load() == 0) {
      EndOfData(player, player->queue);
    }
    return;
  }
  // The ended track's last frame is enqueued: the next one begins right after it.
  player->decoding = next;
  player->ahead = next;
  player->ahead_start = player->enqueued_frames;
  while (player->held_count > 0) {
    if (!DecodeInto(player, player->queue, player->held[player->held_count - 1])) {
      return;  // So short that it has ended already: asked again once it is heard.
    }
    --player->held_count;
  }
  Answer(player, kAskNext);
}

AudioTrack* TakeHeardTrack(Player* player) {
  if (player->ahead == nullptr) {
    return nullptr;
  }
  AudioTimeStamp now{};
  if (AudioQueueGetCurrentTime(player->queue, nullptr, &now, nullptr) != noErr ||
      now.mSampleTime < static_cast<Float64>(player->ahead_start)) {
    return nullptr;
  }
  AudioTrack* heard_before = player->track;
  player->track = player->ahead;
  player->track_start = player->ahead_start;
  player->ahead = nullptr;
  player->paused_total = 0;
  return heard_before;
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
  if (AudioQueueGetCurrentTime(player->queue, nullptr, &player->pause_stamp, nullptr) != noErr) {
    return;
  }
  player->paused_at = player->pause_stamp.mSampleTime / player->track->client_format.mSampleRate;
  if (AudioQueuePause(player->queue) == noErr) {
    player->paused.store(true);
  }
}

void ResumePlayer(Player* player) {
  if (player->queue == nullptr) {
    return;
  }
  if (AudioQueueStart(player->queue, &player->pause_stamp) != noErr) {
    return;
  }
  AudioTimeStamp now{};
  if (AudioQueueGetCurrentTime(player->queue, nullptr, &now, nullptr) != noErr) {
    return;
  }
  player->paused_total +=
      now.mSampleTime / player->track->client_format.mSampleRate - player->paused_at;
  player->paused.store(false);
}

Float64 PlayerCurrentTime(Player* player) {
  // The next track waits until the ended one has been heard, so the position runs on while the
  // queue plays what it still holds; it is gone before the start and once all has been heard.
  const bool started = player->running.load() || player->finished.load();
  if (player->queue == nullptr || !started || PlayerPlayedOut(player)) {
    return -1;
  }
  AudioTimeStamp now{};
  if (AudioQueueGetCurrentTime(player->queue, nullptr, &now, nullptr) != noErr) {
    return -1;
  }
  return (now.mSampleTime - static_cast<Float64>(player->track_start)) /
             player->track->client_format.mSampleRate -
         player->paused_total;
}

void FreePlayer(Player* player) {
  if (player == nullptr) {
    return;
  }
  // A refill that waits for the next track has none to wait for.
  Answer(player, kCancelled);
  if (player->queue != nullptr && player->running.load() &&
      AudioQueueStop(player->queue, true) == noErr) {
    player->finished.store(true);
    player->running.store(false);
  }
  if (player->queue != nullptr) {
    // Immediate: once this returns no refill call runs or starts, so the Player can go.
    AudioQueueDispose(player->queue, true);
  }
  ReleasePlayer(player);
}
