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

// The one-track source: decodes the track, and ends with it.
SourceFill DecodeOneTrack(void* track, AudioQueueBufferRef buffer, UInt64 /*stream_frame*/) {
  return DecodeTrackInto(static_cast<AudioTrack*>(track), buffer);
}

}  // namespace

Player* CreatePlayer(const AudioStreamBasicDescription& format, PcmSource source,
                     PlayedOutHook played_out_hook) {
  if (source.fill == nullptr) {
    return nullptr;
  }
  Player* player = AllocatePlayer();
  if (player == nullptr) {
    return nullptr;
  }
  player->format = format;
  player->source = source;
  player->played_out_hook = played_out_hook;
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

Player* CreatePlayer(AudioTrack* track) {
  if (track == nullptr) {
    return nullptr;
  }
  return CreatePlayer(track->client_format, PcmSource{DecodeOneTrack, track});
}

SourceFill DecodeTrackInto(AudioTrack* track, AudioQueueBufferRef buffer) {
  const AudioStreamBasicDescription& format = track->client_format;
  UInt32 frames =
      format.mBytesPerFrame == 0 ? 0 : buffer->mAudioDataBytesCapacity / format.mBytesPerFrame;
  AudioBufferList list{};
  list.mNumberBuffers = 1;
  list.mBuffers[0].mNumberChannels = format.mChannelsPerFrame;
  list.mBuffers[0].mDataByteSize = buffer->mAudioDataBytesCapacity;
  list.mBuffers[0].mData = buffer->mAudioData;
  if (ExtAudioFileRead(track->decoder, &frames, &list) != noErr || frames == 0) {
    return SourceFill::kEnded;
  }
  buffer->mAudioDataByteSize = frames * format.mBytesPerFrame;
  return SourceFill::kFilled;
}

bool PrimePlayer(Player* player) {
  if (player->queue == nullptr || player->running.load() || player->finished.load() ||
      player->primed) {
    return false;
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
  player->started = true;
  player->running.store(true);
  return true;
}

void HoldPlayer(Player* player) {
  player->primed = false;
  player->pause_stamp = AudioTimeStamp{};
  player->paused_at = 0;
  player->paused.store(true);
  player->running.store(true);
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
  if (PlayerPlayedOut(player) && player->played_out_hook.call != nullptr) {
    player->played_out_hook.call(player->played_out_hook.context);
  }
}

void ResumeFilling(Player* player) {
  std::lock_guard<std::mutex> lock(player->fill_lock);
  // Oldest first: a buffer is taken from the front, the rest move up.
  while (player->waiting_count > 0 && !player->finished.load()) {
    AudioQueueBufferRef buffer = player->waiting[0];
    --player->waiting_count;
    for (int i = 0; i < player->waiting_count; ++i) {
      player->waiting[i] = player->waiting[i + 1];
    }
    if (!FillLocked(player, buffer)) {
      return;
    }
  }
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
  if (AudioQueueStart(player->queue, &player->pause_stamp) != noErr) {
    return;
  }
  player->started = true;
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
  const bool started = player->running.load() || player->finished.load();
  if (player->queue == nullptr || !started || PlayerPlayedOut(player)) {
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
