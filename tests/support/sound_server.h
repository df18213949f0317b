#pragma once

// A private sound server for the tests, whose only sink is a null sink at 44.1 kHz, 16-bit
// stereo, and a recorder of what that sink plays: what a desktop would hear. PulseAudio, or with
// BREVALO_TEST_SOUND_SERVER=pipewire, PipeWire with its Pulse service, as Debian's desktops run.

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/temp_dir.h"

namespace test_support {

// True when the server's daemon and the Pulse tools (pactl, parec) can be run.
bool HaveSoundServer();

class SoundServer {
 public:
  // Starts the daemons, with their home, configuration and runtime folders in a temporary
  // folder; ok() tells whether the server answers with our sink as its default.
  SoundServer();
  // Stops the recorder and the daemons by their process ids.
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Whether BREVALO_TEST_SOUND_SERVER asks for PipeWire.
  static bool UsePipeWire();

  bool ok() const { return ok_; }
  // What the daemons wrote, to tell why the server did not start.
  std::string Logs() const;
  const std::vector<pid_t>& daemon_pids() const { return daemons_; }
  // The value of PULSE_SERVER that reaches it.
  std::string address() const;

  // Stops the recorder and the daemons, and starts the daemons again on the same socket, as a
  // desktop restarts its server; ok() tells whether it answers again.
  bool Restart();
  // The two halves of a restart, for what happens between them.
  void StopDaemons();
  bool StartDaemons();

  // What `pactl list sink-inputs` says of the streams playing now.
  std::string SinkInputs() const;

  // Starts recording the sink; returns once the recorder is connected.
  bool StartRecording();
  // Stops the recorder once what the sink has played so far has reached it; the interleaved
  // stereo samples it recorded, silence included.
  std::vector<int16_t> StopRecording();

 private:
  bool StartDaemon(const std::vector<std::string>& arguments, const std::string& name);
  bool StartPulseAudio();
  bool StartPipeWire();
  bool DefaultSinkIsOurs() const;
  bool Pactl(const std::vector<std::string>& arguments, std::string* output = nullptr) const;

  TempDir folder_;
  bool pipewire_;
  std::vector<std::string> environment_;
  std::vector<pid_t> daemons_;
  pid_t recorder_ = -1;
  bool ok_ = false;
};

}  // namespace test_support

// Skips the current test when PulseAudio is not installed.
#define SKIP_WITHOUT_SOUND_SERVER()                                               \
  do {                                                                            \
    if (!::test_support::HaveSoundServer()) {                                     \
      GTEST_SKIP() << "a sound server and pulseaudio-utils are needed to record"; \
    }                                                                             \
  } while (false)
