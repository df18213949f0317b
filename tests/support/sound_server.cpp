#include "tests/support/sound_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

#include <sys/wait.h>

#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/process.h"

namespace test_support {
namespace {

constexpr char kSink[] = "nullsink";

void Stop(pid_t& pid) {
  if (pid <= 0) {
    return;
  }
  kill(pid, SIGTERM);
  WaitForProgram(pid);
  pid = -1;
}

// Waits up to `patience` for a program to end by itself; then ends it.
void AwaitEnd(pid_t& pid, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      Stop(pid);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid = -1;
}

void StopAll(std::vector<pid_t>& pids) {
  for (const pid_t pid : pids) {
    kill(pid, SIGTERM);
  }
  for (const pid_t pid : pids) {
    WaitForProgram(pid);
  }
  pids.clear();
}

bool PollFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// `arguments` run at a real-time priority where this process may give one, as the daemons'
// own threads run (PipeWire's module-rt): a recorder that a busy machine holds up loses what the
// sink played, which no listener would have missed, and the recording then shows a gap that
// the player never made.
std::vector<std::string> AtRealTimePriority(std::vector<std::string> arguments) {
  static const bool allowed = RunProgram({"chrt", "-f", "50", "true"}) == 0;
  if (allowed) {
    arguments.insert(arguments.begin(), {"chrt", "-f", "50"});
  }
  return arguments;
}

}  // namespace

std::string NameOf(ServerKind kind) {
  switch (kind) {
    case ServerKind::kPulseAudio:
      return "PulseAudio";
    case ServerKind::kPipeWire:
      return "PipeWire";
    case ServerKind::kPulseAudioRenderingAhead:
      return "PulseAudioRenderingAhead";
    case ServerKind::kPipeWireNative:
      return "PipeWireNative";
  }
  return "";
}

bool IsPipeWire(ServerKind kind) {
  return kind == ServerKind::kPipeWire || kind == ServerKind::kPipeWireNative;
}

std::string ServerKindName(const ::testing::TestParamInfo<ServerKind>& info) {
  return NameOf(info.param);
}

void PrintTo(ServerKind kind, std::ostream* out) { *out << NameOf(kind); }

bool HaveSoundServer(ServerKind kind) {
  static const bool tools = RunProgram({"pactl", "--version"}) == 0 &&
                            RunProgram({"parec", "--version"}) == 0 &&
                            RunProgram({"timeout", "--version"}) == 0;
  static const bool pulseaudio = RunProgram({"pulseaudio", "--version"}) == 0;
  static const bool pipewire =
      RunProgram({"pipewire", "--version"}) == 0 && RunProgram({"wireplumber", "--version"}) == 0 &&
      RunProgram({"pw-record", "--version"}) == 0 && RunProgram({"pw-cli", "--version"}) == 0 &&
      std::filesystem::exists("/usr/share/pipewire/pipewire-pulse.conf");
  return tools && (IsPipeWire(kind) ? pipewire : pulseaudio);
}

SoundServer::SoundServer(ServerKind kind, GraphQuantum quantum) : kind_(kind), quantum_(quantum) {
  for (const char* folder : {"home", "run", "config"}) {
    std::filesystem::create_directories(folder_.path() / folder);
  }
  std::filesystem::permissions(folder_.path() / "run", std::filesystem::perms::owner_all);
  environment_ = {"HOME=" + folder_ / "home", "XDG_RUNTIME_DIR=" + folder_ / "run",
                  "XDG_CONFIG_HOME=" + folder_ / "config",
                  "PIPEWIRE_RUNTIME_DIR=" + folder_ / "run"};
  StartDaemons();
}

SoundServer::~SoundServer() { StopDaemons(); }

bool SoundServer::Restart() {
  StopDaemons();
  return StartDaemons();
}

bool SoundServer::StartDaemons(std::chrono::milliseconds apart) {
  return StartDaemons(apart, false);
}

bool SoundServer::StartDaemonsUnderRecording(std::chrono::milliseconds apart) {
  return StartDaemons(apart, true);
}

bool SoundServer::StartDaemons(std::chrono::milliseconds apart, bool record) {
  const bool started = IsPipeWire(kind_) ? StartPipeWire(apart, record) : StartPulseAudio(record);
  ok_ = started && PollFor([this] { return Pactl({"info"}) && DefaultSinkIsOurs(); }) &&
        (!record || RecorderConnected());
  return ok_;
}

void SoundServer::StopDaemons() {
  Stop(recorder_);
  StopAll(daemons_);
}

std::vector<int16_t> SoundServer::StopDaemonsUnderRecording() {
  if (IsPipeWire(kind_) && daemons_.size() == 3) {
    // The Pulse service and the session manager first, as the service manager stops them: the
    // graph, and the recorder on it, hear the sink until the player's stream is gone.
    std::vector<pid_t> first = {daemons_[1], daemons_[2]};
    StopAll(first);
    daemons_.resize(1);
  }
  StopAll(daemons_);
  // PulseAudio's recorder ends with the server; PipeWire's is left waiting for it.
  AwaitEnd(recorder_, std::chrono::milliseconds(100));
  return SamplesOf(ReadFile(folder_.path() / "recorded.raw"));
}

std::chrono::milliseconds SoundServer::RecorderFragment() const {
  return std::chrono::milliseconds(IsPipeWire(kind_) ? 100 : 20);
}

bool SoundServer::Answers(std::chrono::milliseconds patience) const {
  const std::string seconds = std::to_string(patience.count() / 1000.0);
  return RunProgram({"timeout", seconds, "pactl", "--server=" + address(), "info"}) == 0 &&
         (!IsPipeWire(kind_) ||
          RunProgram({"timeout", seconds, "env", "PIPEWIRE_REMOTE=",
                      "PIPEWIRE_RUNTIME_DIR=" + folder_ / "run", "pw-cli", "info", "0"}) == 0);
}

bool SoundServer::StartDaemon(const std::vector<std::string>& arguments, const std::string& name) {
  const pid_t pid = SpawnProgram(arguments, environment_, folder_ / (name + ".log"),
                                 folder_ / (name + ".errors"));
  if (pid > 0) {
    daemons_.push_back(pid);
  }
  return pid > 0;
}

// The player's socket opens last, once the recorder, if asked for, is listening: the tests' own
// clients use a socket of their own.
bool SoundServer::StartPulseAudio(bool record) {
  std::filesystem::create_directories(folder_.path() / "config/pulse");
  WriteFile(folder_.path() / "config/pulse/client.conf", "autospawn = no\n");
  WriteFile(folder_.path() / "config/pulse/daemon.conf",
            "default-sample-format = s16le\ndefault-sample-rate = 44100\n"
            "alternate-sample-rate = 44100\ndefault-sample-channels = 2\n"
            "avoid-resampling = yes\nexit-idle-time = -1\n");
  // Without rewinds a null sink keeps the start of every stream in its monitor's recording,
  // as a sound card lets it be heard.
  const char* rewinds = kind_ == ServerKind::kPulseAudio ? " norewinds=1" : "";
  return StartDaemon(
             {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
              "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + folder_ / "run/tests",
              "-L",
              std::string("module-null-sink sink_name=") + kSink +
                  " rate=44100 format=s16le channels=2" + rewinds},
             "pulseaudio") &&
         PollFor([this] { return Pactl({"info"}); }) && Pactl({"set-default-sink", kSink}) &&
         (!record || StartParec(EndRecorderFragment())) &&
         Pactl({"load-module", "module-native-protocol-unix", "auth-anonymous=1",
                "socket=" + folder_ / "run/native"});
}

namespace {

// The graph's settings for `quantum`, in pipewire.conf's context.properties.
std::string QuantumLines(GraphQuantum quantum) {
  if (quantum == GraphQuantum::kDesktop) {
    return "";
  }
  return "  default.clock.quantum = 4096\n"
         "  default.clock.min-quantum = 4096\n"
         "  default.clock.max-quantum = 8192\n";
}

}  // namespace

// The graph with a null sink of the same shape that drives it, the Pulse service without its
// fallback sink, and a session manager that links streams but looks for no devices.
bool SoundServer::StartPipeWire(std::chrono::milliseconds apart, bool record) {
  const std::filesystem::path config = folder_.path() / "config";
  std::filesystem::create_directories(config / "pipewire/pipewire.conf.d");
  WriteFile(config / "pipewire/pipewire.conf.d/10-null-sink.conf",
            "context.properties = {\n"
            "  default.clock.rate = 44100\n"
            "  default.clock.allowed-rates = [ 44100 ]\n" +
                QuantumLines(quantum_) +
                "  support.dbus = false\n"
                "}\n"
                "context.objects = [\n"
                "  { factory = adapter args = {\n"
                "      factory.name = support.null-audio-sink node.name = " +
                std::string(kSink) +
                " media.class = Audio/Sink\n"
                "      audio.format = S16LE audio.rate = 44100 audio.channels = 2\n"
                "      audio.position = [ FL FR ] monitor.channel-volumes = true\n"
                "      priority.driver = 30000 } }\n"
                "]\n");
  std::string pulse_config = ReadFile("/usr/share/pipewire/pipewire-pulse.conf");
  for (size_t at; (at = pulse_config.find("module-always-sink")) != std::string::npos;) {
    const size_t line = pulse_config.rfind('\n', at) + 1;
    pulse_config.erase(line, pulse_config.find('\n', at) - line);
  }
  WriteFile(config / "pipewire/pipewire-pulse.conf", pulse_config);
  std::filesystem::create_directories(config / "wireplumber/main.lua.d");
  std::filesystem::create_directories(config / "wireplumber/bluetooth.lua.d");
  WriteFile(config / "wireplumber/main.lua.d/51-headless.lua",
            "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
            "libcamera_monitor.enabled = false\n"
            "default_access.properties[\"enable-flatpak-portal\"] = false\n");
  WriteFile(config / "wireplumber/bluetooth.lua.d/51-headless.lua",
            "bluez_monitor.enabled = false\n");
  const auto after_a_pause = [apart] {
    std::this_thread::sleep_for(apart);
    return true;
  };
  // The graph's clients find it once its socket is there; one that comes sooner gives up (a
  // session manager that does leaves the sink without a default, on a busy machine).
  const auto graph_up = [this] {
    return PollFor([this] { return std::filesystem::exists(folder_.path() / "run/pipewire-0"); });
  };
  // The recorder joins the graph before the Pulse service opens.
  const auto recorder = [this, record] { return !record || StartGraphRecorder(); };
  return StartDaemon({"pipewire", "-c", "pipewire.conf"}, "pipewire") && graph_up() && recorder() &&
         after_a_pause() &&
         StartDaemon({"pipewire", "-c", "pipewire-pulse.conf"}, "pipewire-pulse") &&
         after_a_pause() && StartDaemon({"wireplumber"}, "wireplumber");
}

bool SoundServer::DefaultSinkIsOurs() const {
  std::string info;
  return Pactl({"info"}, &info) &&
         info.find(std::string("Default Sink: ") + kSink) != std::string::npos;
}

std::string SoundServer::Logs() const {
  std::string logs;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
    if (entry.path().extension() == ".errors" || entry.path().extension() == ".log") {
      logs += "--- " + entry.path().filename().string() + "\n" + ReadFile(entry.path());
    }
  }
  std::string info;
  Pactl({"info"}, &info);
  return logs + "--- pactl info\n" + info;
}

std::string SoundServer::address() const {
  return "unix:" + folder_ / (IsPipeWire(kind_) ? "run/pulse/native" : "run/native");
}

std::map<std::string, std::string> SoundServer::ClientEnvironment() const {
  const bool native = kind_ == ServerKind::kPipeWireNative;
  return {{"SDL_AUDIODRIVER", ""},
          {"PULSE_SERVER", address()},
          {"PIPEWIRE_RUNTIME_DIR", folder_ / "run"},
          {"PIPEWIRE_REMOTE", "pipewire-0"},
          {"BREVALO_TEST_OUTPUT", native ? "pipewire" : "pulse"}};
}

void SoundServer::SetClientEnvironment() const {
  for (const auto& [name, value] : ClientEnvironment()) {
    setenv(name.c_str(), value.c_str(), 1);
  }
}

std::string SoundServer::TestsAddress() const {
  return IsPipeWire(kind_) ? address() : "unix:" + folder_ / "run/tests";
}

bool SoundServer::Pactl(const std::vector<std::string>& arguments, std::string* output) const {
  std::vector<std::string> command = {"pactl", "--server=" + TestsAddress()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return RunProgram(command, nullptr, output) == 0;
}

std::string SoundServer::SinkInputs() const {
  std::string inputs;
  Pactl({"list", "sink-inputs"}, &inputs);
  return inputs;
}

bool SoundServer::StartRecording() {
  // A short recorder keeps PulseAudio's null sink from rendering seconds of silence ahead of a
  // new stream, which a sound card never does. PipeWire never renders ahead, but its Pulse
  // service cuts a recorder's short fragments at a stop, and a recorder's latency sets its
  // graph's pace.
  return StartParec(RecorderFragment());
}

bool SoundServer::StartParec(std::chrono::milliseconds fragment) {
  recorder_ =
      SpawnProgram(AtRealTimePriority({"parec", "--server=" + TestsAddress(),
                                       std::string("--device=") + kSink + ".monitor",
                                       "--format=s16le", "--rate=44100", "--channels=2", "--raw",
                                       "--latency-msec=" + std::to_string(fragment.count())}),
                   {}, folder_ / "recorded.raw", folder_ / "recorder.errors");
  return recorder_ > 0 && RecorderConnected();
}

bool SoundServer::StartRecordingToTheEnd() {
  if (kind_ == ServerKind::kPulseAudio) {
    // The null sink renders no further ahead than its shortest recorder asks.
    return StartParec(EndRecorderFragment());
  }
  return StartGraphRecorder() && RecorderConnected();
}

// On the graph itself, which outlives the Pulse service in StopDaemonsUnderRecording.
bool SoundServer::StartGraphRecorder() {
  recorder_ = SpawnProgram(
      AtRealTimePriority({"pw-record", "--target", kSink, "-P", "{ stream.capture.sink=true }",
                          "--rate", "44100", "--channels", "2", "--format", "s16", "--latency",
                          std::to_string(EndRecorderFragment().count()) + "ms", "-"}),
      environment_, folder_ / "recorded.raw", folder_ / "recorder.errors");
  return recorder_ > 0;
}

std::chrono::milliseconds SoundServer::EndRecorderFragment() const {
  return std::chrono::milliseconds(IsPipeWire(kind_) ? 23 : 5);
}

bool SoundServer::RecorderConnected() const {
  if (IsPipeWire(kind_)) {
    // Listed before it is linked: it is linked once the sink's silence reaches its file.
    const std::filesystem::path recorded = folder_.path() / "recorded.raw";
    return PollFor([&recorded] {
      std::error_code error;
      return std::filesystem::file_size(recorded, error) > 0 && !error;
    });
  }
  return PollFor([this] {
    std::string outputs;
    return Pactl({"list", "short", "source-outputs"}, &outputs) && !outputs.empty();
  });
}

std::vector<int16_t> SoundServer::RecordedSoFar() const {
  return SamplesOf(ReadFile(folder_.path() / "recorded.raw"));
}

std::vector<int16_t> SoundServer::StopRecording() {
  // What the sink has played reaches the recorder a fragment later.
  std::this_thread::sleep_for(std::chrono::milliseconds(IsPipeWire(kind_) ? 400 : 100));
  Stop(recorder_);
  return SamplesOf(ReadFile(folder_.path() / "recorded.raw"));
}

}  // namespace test_support
