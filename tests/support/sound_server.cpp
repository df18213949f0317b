#include "tests/support/sound_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

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

}  // namespace

bool HaveSoundServer() {
  const std::string daemon = SoundServer::UsePipeWire() ? "pipewire" : "pulseaudio";
  static const bool available = RunProgram({daemon, "--version"}) == 0 &&
                                RunProgram({"pactl", "--version"}) == 0 &&
                                RunProgram({"parec", "--version"}) == 0;
  return available;
}

SoundServer::SoundServer() : pipewire_(UsePipeWire()) {
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

bool SoundServer::StartDaemons() {
  const bool started = pipewire_ ? StartPipeWire() : StartPulseAudio();
  ok_ = started && PollFor([this] { return Pactl({"info"}) && DefaultSinkIsOurs(); });
  return ok_;
}

void SoundServer::StopDaemons() {
  Stop(recorder_);
  // The session manager and the Pulse service go before the graph they use.
  for (auto daemon = daemons_.rbegin(); daemon != daemons_.rend(); ++daemon) {
    Stop(*daemon);
  }
  daemons_.clear();
}

bool SoundServer::UsePipeWire() {
  const char* choice = std::getenv("BREVALO_TEST_SOUND_SERVER");
  return choice != nullptr && std::string(choice) == "pipewire";
}

bool SoundServer::StartDaemon(const std::vector<std::string>& arguments, const std::string& name) {
  const pid_t pid = SpawnProgram(arguments, environment_, folder_ / (name + ".log"),
                                 folder_ / (name + ".errors"));
  if (pid > 0) {
    daemons_.push_back(pid);
  }
  return pid > 0;
}

bool SoundServer::StartPulseAudio() {
  std::filesystem::create_directories(folder_.path() / "config/pulse");
  WriteFile(folder_.path() / "config/pulse/client.conf", "autospawn = no\n");
  WriteFile(folder_.path() / "config/pulse/daemon.conf",
            "default-sample-format = s16le\ndefault-sample-rate = 44100\n"
            "alternate-sample-rate = 44100\ndefault-sample-channels = 2\n"
            "avoid-resampling = yes\nexit-idle-time = -1\n");
  // Without rewinds a null sink keeps the start of every stream in its monitor's recording,
  // as a sound card lets it be heard.
  return StartDaemon(
             {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
              "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + folder_ / "run/native",
              "-L",
              std::string("module-null-sink sink_name=") + kSink +
                  " rate=44100 format=s16le channels=2 norewinds=1"},
             "pulseaudio") &&
         PollFor([this] { return Pactl({"info"}); }) && Pactl({"set-default-sink", kSink});
}

// The graph with a null sink of the same shape that drives it, the Pulse service without its
// fallback sink, and a session manager that links streams but looks for no devices.
bool SoundServer::StartPipeWire() {
  const std::filesystem::path config = folder_.path() / "config";
  std::filesystem::create_directories(config / "pipewire/pipewire.conf.d");
  WriteFile(config / "pipewire/pipewire.conf.d/10-null-sink.conf",
            "context.properties = {\n"
            "  default.clock.rate = 44100\n"
            "  default.clock.allowed-rates = [ 44100 ]\n"
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
  return StartDaemon({"pipewire", "-c", "pipewire.conf"}, "pipewire") &&
         StartDaemon({"pipewire", "-c", "pipewire-pulse.conf"}, "pipewire-pulse") &&
         StartDaemon({"wireplumber"}, "wireplumber");
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
  return "unix:" + folder_ / (pipewire_ ? "run/pulse/native" : "run/native");
}

bool SoundServer::Pactl(const std::vector<std::string>& arguments, std::string* output) const {
  std::vector<std::string> command = {"pactl", "--server=" + address()};
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
  recorder_ =
      SpawnProgram({"parec", "--server=" + address(), std::string("--device=") + kSink + ".monitor",
                    "--format=s16le", "--rate=44100", "--channels=2", "--raw",
                    pipewire_ ? "--latency-msec=100" : "--latency-msec=20"},
                   {}, folder_ / "recorded.raw", folder_ / "recorder.errors");
  return recorder_ > 0 && PollFor([this] {
           std::string outputs;
           return Pactl({"list", "short", "source-outputs"}, &outputs) && !outputs.empty();
         });
}

std::vector<int16_t> SoundServer::StopRecording() {
  // What the sink has played reaches the recorder a fragment later.
  std::this_thread::sleep_for(std::chrono::milliseconds(pipewire_ ? 400 : 100));
  Stop(recorder_);
  return SamplesOf(ReadFile(folder_.path() / "recorded.raw"));
}

}  // namespace test_support
