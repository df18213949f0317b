#pragma once

// A private PulseAudio daemon for the tests, whose only sink is a null sink at 44.1 kHz, 16-bit
// stereo, and a recorder of what that sink plays: what a desktop would hear.

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/temp_dir.h"

namespace test_support {

// True when the pulseaudio daemon and its tools (pactl, parec) can be run.
bool HavePulseAudio();

class SoundServer {
 public:
  // Starts the daemon, with its home and runtime folders in a temporary folder; ok() tells
  // whether it answers.
  SoundServer();
  // Stops the recorder and the daemon by their process ids.
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  bool ok() const { return ok_; }
  pid_t daemon_pid() const { return daemon_; }
  // The value of PULSE_SERVER that reaches it.
  std::string address() const;

  // What `pactl list sink-inputs` says of the streams playing now.
  std::string SinkInputs() const;

  // Starts recording the sink; returns once the recorder is connected.
  bool StartRecording();
  // Stops the recorder; the interleaved stereo samples it recorded, silence included.
  std::vector<int16_t> StopRecording();

 private:
  bool Pactl(const std::vector<std::string>& arguments, std::string* output = nullptr) const;

  TempDir folder_;
  pid_t daemon_ = -1;
  pid_t recorder_ = -1;
  bool ok_ = false;
};

}  // namespace test_support

// Skips the current test when PulseAudio is not installed.
#define SKIP_WITHOUT_PULSEAUDIO()                                             \
  do {                                                                        \
    if (!::test_support::HavePulseAudio()) {                                  \
      GTEST_SKIP() << "pulseaudio and pulseaudio-utils are needed to record"; \
    }                                                                         \
  } while (false)
