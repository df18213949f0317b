#include "tests/audio/held_read.h"

#include <chrono>
#include <thread>

#include "tests/fakes/fake_audio_platform.h"

namespace engine_test {
namespace {

constexpr auto kPatience = std::chrono::seconds(20);

}  // namespace

HeldRead::HeldRead() {
  fake_audio::BeforeNextCall(fake_audio::Op::kAudioFileOpenWithCallbacks, [state = state_] {
    std::unique_lock<std::mutex> lock(state->mutex);
    state->reached = true;
    state->changed.notify_all();
    state->changed.wait(lock, [&] { return state->released; });
  });
}

HeldRead::~HeldRead() { ReleaseAndWaitUntilClosed(); }

bool HeldRead::Reached() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->reached;
}

bool HeldRead::WaitUntilReached() const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, kPatience, [&] { return state_->reached; });
}

void HeldRead::Release() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
  }
  state_->changed.notify_all();
}

bool HeldRead::ReleaseAndWaitUntilClosed(int files_kept) {
  // The held open is logged once it goes on.
  const int opens_before = fake_audio::CallCount(fake_audio::Op::kAudioFileOpenWithCallbacks);
  const int closes_before = fake_audio::CallCount(fake_audio::Op::kAudioFileClose);
  // The open is logged before its file is counted open: where the read's answer is dropped, the
  // count stands at `files_kept` then too, and only a close after it tells that it went.
  const bool dropped = files_kept <= fake_audio::OpenFileCount();
  bool reached = false;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->released) {
      return true;
    }
    state_->released = true;
    reached = state_->reached;
  }
  state_->changed.notify_all();
  if (!reached) {
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (fake_audio::CallCount(fake_audio::Op::kAudioFileOpenWithCallbacks) == opens_before ||
         (dropped && fake_audio::CallCount(fake_audio::Op::kAudioFileClose) == closes_before) ||
         fake_audio::OpenFileCount() != files_kept ||
         fake_audio::OpenDecoderCount() != files_kept) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace engine_test
