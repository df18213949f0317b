#include "audio/player.h"

#include <cstdio>
#include <cstdlib>
#include <new>

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
// still play out.
void EndOfData(Player* player, AudioQueueRef queue) {
  player->finished.store(true);
  player->running.store(false);
  AudioQueueStop(queue, false);
}

// Decodes the next stretch of the track into `buffer` and enqueues it, or ends the Player when
// the data has run out. Runs on the audio thread, and on the main thread while StartPlayer
// primes. A buffer handed back while paused is refilled like any other (the paused queue keeps
// it until the resume): one dropped here would leave circulation for good, and three would
// starve the output.
void FillBuffer(Player* player, AudioQueueRef queue, AudioQueueBufferRef buffer) {
  if (player->finished.load()) {
    return;
  }
  const AudioStreamBasicDescription& format = player->track->client_format;
  UInt32 frames =
      format.mBytesPerFrame == 0 ? 0 : buffer->mAudioDataBytesCapacity / format.mBytesPerFrame;
  AudioBufferList list{};
  list.mNumberBuffers = 1;
  list.mBuffers[0].mNumberChannels = format.mChannelsPerFrame;
  list.mBuffers[0].mDataByteSize = buffer->mAudioDataBytesCapacity;
  list.mBuffers[0].mData = buffer->mAudioData;
  OSStatus status = ExtAudioFileRead(player->track->decoder, &frames, &list);
  if (status == noErr && frames > 0) {
    buffer->mAudioDataByteSize = frames * format.mBytesPerFrame;
    // Counted before the enqueue, since the queue may hand it back before the call returns.
    player->buffers_queued.fetch_add(1);
    if (AudioQueueEnqueueBuffer(queue, buffer, 0, nullptr) != noErr) {
      player->buffers_queued.fetch_sub(1);
    }
    return;
  }
  EndOfData(player, queue);
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

bool StartPlayer(Player* player) {
  if (player->queue == nullptr || player->running.load() || player->finished.load()) {
    return false;
  }
  const UInt32 capacity = player->track->client_format.mBytesPerFrame << kPlayerBufferFrameShift;
  for (int i = 0; i < kPlayerBufferCount && !player->finished.load(); ++i) {
    AudioQueueBufferRef buffer = nullptr;
    if (AudioQueueAllocateBuffer(player->queue, capacity, &buffer) != noErr) {
      return false;
    }
    FillBuffer(player, player->queue, buffer);
  }
  if (AudioQueueStart(player->queue, nullptr) != noErr) {
    return false;
  }
  player->running.store(true);
  return true;
}

// Runs on the audio thread: the queue hands back a buffer it has played.
void RefillBuffer(void* user_data, AudioQueueRef queue, AudioQueueBufferRef buffer) {
  auto* player = static_cast<Player*>(user_data);
  player->buffers_queued.fetch_sub(1);
  FillBuffer(player, queue, buffer);
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
  return now.mSampleTime / player->track->client_format.mSampleRate - player->paused_total;
}

void FreePlayer(Player* player) {
  if (player == nullptr) {
    return;
  }
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
