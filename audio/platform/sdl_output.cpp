#include "audio/platform/sdl_output.h"

#include <cstring>

#include <SDL.h>

#include "audio/platform/sdl_audio_system.h"

namespace sdl_platform {
namespace {

using output_queue::AudioOutput;

// SDL's own buffer: at most 25 ms of audio (1024 frames at 44.1 or 48 kHz). SDL waits twice
// that for the device to drain when it closes, which the main thread feels at every change of
// track.
constexpr double kDeviceBufferSeconds = 0.025;

// The largest power of two of frames within the device buffer's length at `sample_rate`.
Uint16 DeviceFrames(double sample_rate) {
  Uint16 frames = 256;
  while (frames < 8192 && (frames * 2) <= sample_rate * kDeviceBufferSeconds) {
    frames = static_cast<Uint16>(frames * 2);
  }
  return frames;
}

// Holds the device lock for a scope: SDL's audio thread is then outside the fill routine.
class DeviceLock {
 public:
  explicit DeviceLock(SDL_AudioDeviceID device) : device_(device) { SDL_LockAudioDevice(device_); }
  ~DeviceLock() { SDL_UnlockAudioDevice(device_); }
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  SDL_AudioDeviceID device_;
};

class SdlOutput final : public AudioOutput {
 public:
  explicit SdlOutput(OpaqueAudioQueue& queue) : queue_(queue) {}

  // Joins SDL's audio thread: no fill, and so no call into the queue, runs after this.
  ~SdlOutput() override {
    if (device_ != 0) {
      SDL_CloseAudioDevice(device_);
    }
  }

  bool Open() {
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(queue_.format.mSampleRate);
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(queue_.format.mChannelsPerFrame);
    wanted.samples = DeviceFrames(queue_.format.mSampleRate);
    wanted.callback = Fill;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // No allowed changes: SDL converts to whatever the hardware takes, and the fill routine
    // always sees the queue's own format. The device opens paused.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    return device_ != 0;
  }

  OSStatus Start() override {
    SDL_PauseAudioDevice(device_, 0);
    return noErr;
  }

  // Taking the device lock waits for a fill in progress; no fill runs after this.
  OSStatus Pause() override {
    SDL_PauseAudioDevice(device_, 1);
    return noErr;
  }

  void Flush() override { SDL_PauseAudioDevice(device_, 1); }

  // SDL asks for data on its own pace; what is enqueued waits for its next fill.
  void Wake() override {}

  UInt64 HeardFrames() override {
    DeviceLock lock(device_);
    return copied_frames_;
  }

 private:
  // SDL's fill routine, on its audio thread with the device lock held: copies what is ready and
  // pads with silence. SDL's own buffer is short, so a frame copied counts as heard.
  static void Fill(void* self, Uint8* stream, int length) {
    auto& output = *static_cast<SdlOutput*>(self);
    OpaqueAudioQueue& queue = output.queue_;
    const UInt32 taken = output_queue::TakePcm(queue, stream, static_cast<UInt32>(length));
    output.copied_frames_ += taken / queue.format.mBytesPerFrame;
    output_queue::MarkHeard(queue, output.copied_frames_);
    if (output_queue::DrainDue(queue)) {
      output_queue::FinishDrain(queue);
      // SDL's lock is recursive, so pausing from its own thread is safe.
      SDL_PauseAudioDevice(output.device_, 1);
    }
    // 16-bit signed silence is all zero bytes.
    std::memset(stream + taken, 0, static_cast<size_t>(length) - taken);
  }

  OpaqueAudioQueue& queue_;
  SDL_AudioDeviceID device_ = 0;
  UInt64 copied_frames_ = 0;  // Written on SDL's audio thread, under the device lock.
};

}  // namespace

std::unique_ptr<AudioOutput> OpenSdlOutput(OpaqueAudioQueue& queue) {
  if (!InitSdlAudioOnce()) {
    return nullptr;
  }
  auto output = std::make_unique<SdlOutput>(queue);
  if (!output->Open()) {
    return nullptr;
  }
  return output;
}

}  // namespace sdl_platform
