#pragma once

// A private sound server for the tests, whose only sink is a null sink at 44.1 kHz, 16-bit
// stereo, and a recorder of what that sink plays: what a desktop would hear. Either PulseAudio,
// or PipeWire with its Pulse service, as Debian's desktops run; on PipeWire the player speaks
// either protocol.

#include <chrono>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/types.h>

#include "tests/support/prerequisite.h"
#include "tests/support/temp_dir.h"

namespace test_support {

enum class ServerKind {
  kPulseAudio,
  // PipeWire, which the player reaches through its Pulse service.
  kPipeWire,
  // PulseAudio with its null sink at its defaults and never recorded: it renders about 2 s
  // ahead and answers a drain late, and a dry stream's clock stops short of its last frame.
  // Not a desktop: a stress case for what must not wait on the clock.
  kPulseAudioRenderingAhead,
  // PipeWire, which the player reaches through its own protocol, as a PipeWire desktop does.
  kPipeWireNative,
};

// The servers and protocols a desktop plays through, for
// INSTANTIATE_TEST_SUITE_P(Servers, SomeTest, kAllServerKinds, ServerKindName).
inline const auto kAllServerKinds =
    ::testing::Values(ServerKind::kPulseAudio, ServerKind::kPipeWire, ServerKind::kPipeWireNative);
// One protocol of each server: PipeWire's own, where a PipeWire desktop plays, stands for its
// Pulse service too where what is tested does not depend on the protocol.
inline const auto kDesktopServerKinds =
    ::testing::Values(ServerKind::kPulseAudio, ServerKind::kPipeWireNative);

// The quantum PipeWire's graph runs at. kDesktop: a desktop's, set by the shortest latency its
// streams ask for, at most 2048 frames (46 ms). kLong: at least 4096 frames (93 ms), for what a
// recording judges sample for sample: on a busy machine even a real-time thread is woken up to
// 47 ms late (doc/testing.md), and a stream that misses its quantum is left out of that
// quantum's mix. A join, a pause or an end is exact or not at any quantum.
enum class GraphQuantum { kDesktop, kLong };

// True for the kinds that run PipeWire's daemons.
bool IsPipeWire(ServerKind kind);

// "PulseAudio", "PipeWire" (its Pulse service), "PipeWireNative"...
std::string NameOf(ServerKind kind);
std::string ServerKindName(const ::testing::TestParamInfo<ServerKind>& info);
void PrintTo(ServerKind kind, std::ostream* out);

// True when the server's daemons and the Pulse tools (pactl, parec) can be run.
bool HaveSoundServer(ServerKind kind);

class SoundServer {
 public:
  // Starts the daemons, with their home, configuration and runtime folders in a temporary
  // folder; ok() tells whether the server answers with our sink as its default.
  explicit SoundServer(ServerKind kind, GraphQuantum quantum = GraphQuantum::kLong);
  // Stops the recorder and the daemons by their process ids.
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  ServerKind kind() const { return kind_; }
  bool ok() const { return ok_; }
  // What the daemons wrote, to tell why the server did not start.
  std::string Logs() const;
  const std::vector<pid_t>& daemon_pids() const { return daemons_; }
  // What a client of the server's own tools (pw-profiler, say) needs in its environment.
  const std::vector<std::string>& environment() const { return environment_; }
  // The value of PULSE_SERVER that reaches it.
  std::string address() const;
  // What the player needs in its environment to play through this server, in the kind's
  // protocol, and never through the desktop's own server.
  std::map<std::string, std::string> ClientEnvironment() const;
  // Sets ClientEnvironment() in this process's environment.
  void SetClientEnvironment() const;

  // Stops the recorder and the daemons, and starts the daemons again on the same socket, as a
  // desktop restarts its server; ok() tells whether it answers again.
  bool Restart();
  // The two halves of a restart, for what happens between them. The daemons are all sent
  // SIGTERM at once, as a session's service manager stops them; they start `apart` from one
  // another, the graph first.
  void StopDaemons();
  bool StartDaemons(std::chrono::milliseconds apart = std::chrono::milliseconds(0));
  // The same, with the recorder of StartRecordingToTheEnd listening before the player can reach
  // the server: it hears the first frame the player plays again.
  bool StartDaemonsUnderRecording(std::chrono::milliseconds apart);
  // Stops the daemons under a recorder that StartRecordingToTheEnd started, which hears the sink
  // until the player's stream is gone; what it recorded, silence included.
  std::vector<int16_t> StopDaemonsUnderRecording();
  // How much of what the sink played the recorder may not have when the server goes, and how
  // far the sink's rendering may run ahead of what its clock counts as played.
  std::chrono::milliseconds EndRecorderFragment() const;

  // True when another client's `pactl info`, and on PipeWire `pw-cli info 0` on its own socket,
  // are answered within `patience` each.
  bool Answers(std::chrono::milliseconds patience) const;

  // What `pactl list sink-inputs` says of the streams playing now.
  std::string SinkInputs() const;

  // Starts recording the sink; returns once the recorder is connected.
  bool StartRecording();
  // The same, with a recorder that loses as little as can be when the server goes away: on
  // PipeWire one on the graph itself, with short fragments.
  bool StartRecordingToTheEnd();
  // Stops the recorder once what the sink has played so far has reached it; the interleaved
  // stereo samples it recorded, silence included.
  std::vector<int16_t> StopRecording();
  // What the recorder has written so far, silence included; it goes on recording.
  std::vector<int16_t> RecordedSoFar() const;

 private:
  bool StartDaemon(const std::vector<std::string>& arguments, const std::string& name);
  bool StartDaemons(std::chrono::milliseconds apart, bool record);
  bool StartPulseAudio(bool record);
  bool StartPipeWire(std::chrono::milliseconds apart, bool record);
  bool StartGraphRecorder();
  std::string TestsAddress() const;
  bool DefaultSinkIsOurs() const;
  bool StartParec(std::chrono::milliseconds fragment);
  bool RecorderConnected() const;
  std::chrono::milliseconds RecorderFragment() const;
  bool Pactl(const std::vector<std::string>& arguments, std::string* output = nullptr) const;

  ServerKind kind_;
  GraphQuantum quantum_;
  TempDir folder_;
  std::vector<std::string> environment_;
  std::vector<pid_t> daemons_;
  pid_t recorder_ = -1;
  bool ok_ = false;
};

}  // namespace test_support

// Ends the current test, as a missing prerequisite does (tests/support/prerequisite.h), when the
// daemons of `kind` or the Pulse tools are not installed.
#define SKIP_WITHOUT_SOUND_SERVER(kind)                                                       \
  do {                                                                                        \
    if (!::test_support::HaveSoundServer(kind)) {                                             \
      MISSING_PREREQUISITE(::test_support::NameOf(kind) +                                     \
                           " and pulseaudio-utils are needed to record what a desktop would " \
                           "hear");                                                           \
    }                                                                                         \
  } while (false)
