#include "tests/support/sound_server.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/media.h"
#include "tests/support/pcm.h"

extern char** environ;

namespace test_support {
namespace {

constexpr char kSink[] = "nullsink";

// Starts `arguments` with `environment` added, its output into `output_path` and its messages
// into `log_path`; -1 on failure.
pid_t Spawn(const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment, const std::string& output_path,
            const std::string& log_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& variable : environment) {
    envp.push_back(const_cast<char*>(variable.c_str()));
  }
  for (char** variable = environ; *variable != nullptr; ++variable) {
    envp.push_back(*variable);
  }
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int status = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return status == 0 ? pid : -1;
}

void Stop(pid_t& pid) {
  if (pid <= 0) {
    return;
  }
  kill(pid, SIGTERM);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
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

bool HavePulseAudio() {
  static const bool available = RunProgram({"pulseaudio", "--version"}) == 0 &&
                                RunProgram({"pactl", "--version"}) == 0 &&
                                RunProgram({"parec", "--version"}) == 0;
  return available;
}

SoundServer::SoundServer() {
  for (const char* folder : {"home", "run", "config/pulse"}) {
    std::filesystem::create_directories(folder_.path() / folder);
  }
  WriteFile(folder_.path() / "config/pulse/client.conf", "autospawn = no\n");
  WriteFile(folder_.path() / "config/pulse/daemon.conf",
            "default-sample-format = s16le\ndefault-sample-rate = 44100\n"
            "alternate-sample-rate = 44100\ndefault-sample-channels = 2\n"
            "avoid-resampling = yes\nexit-idle-time = -1\n");
  // Without rewinds a null sink keeps the start of every stream in its monitor's recording,
  // as a sound card lets it be heard.
  daemon_ = Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                   "--use-pid-file=no", "-L",
                   "module-native-protocol-unix auth-anonymous=1 socket=" + folder_ / "run/native",
                   "-L",
                   std::string("module-null-sink sink_name=") + kSink +
                       " rate=44100 format=s16le channels=2 norewinds=1"},
                  {"HOME=" + folder_ / "home", "XDG_RUNTIME_DIR=" + folder_ / "run",
                   "XDG_CONFIG_HOME=" + folder_ / "config"},
                  folder_ / "daemon.log", folder_ / "daemon.errors");
  ok_ = daemon_ > 0 && PollFor([this] { return Pactl({"info"}); }) &&
        Pactl({"set-default-sink", kSink});
}

SoundServer::~SoundServer() {
  Stop(recorder_);
  Stop(daemon_);
}

std::string SoundServer::address() const { return "unix:" + folder_ / "run/native"; }

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
  // A short recorder keeps the null sink from rendering seconds of silence ahead of a new
  // stream, which a sound card never does.
  recorder_ = Spawn({"parec", "--server=" + address(), std::string("--device=") + kSink + ".monitor",
                     "--format=s16le", "--rate=44100", "--channels=2", "--raw",
                     "--latency-msec=20"},
                    {}, folder_ / "recorded.raw", folder_ / "recorder.errors");
  return recorder_ > 0 && PollFor([this] {
           std::string outputs;
           return Pactl({"list", "short", "source-outputs"}, &outputs) && !outputs.empty();
         });
}

std::vector<int16_t> SoundServer::StopRecording() {
  Stop(recorder_);
  return SamplesOf(ReadFile(folder_.path() / "recorded.raw"));
}

}  // namespace test_support
