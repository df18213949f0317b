// What the whole program costs, run on a pseudo-terminal as a user would run it:
// - start-up in a folder of 10,000 supported files, until the first frame is on the terminal;
// - CPU with the browser open and nothing playing, over a long stretch;
// - CPU while a 60 s MP3 and a 60 s FLAC play to their end (SDL's dummy driver keeps real
//   time), against ffplay on the same files.
//
// Run: build/bench/program_bench [idle-seconds] [track-seconds]   (60 and 60 by default)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_process.h"


namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The program running on a pseudo-terminal of 80x24; its output is read and dropped so that it
// never blocks on a full terminal.
class PtyProgram {
 public:
  PtyProgram(const std::vector<std::string>& arguments, const std::string& audio_driver) {
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 24;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      setenv("TERM", "xterm-256color", 1);
      setenv("SDL_AUDIODRIVER", audio_driver.c_str(), 1);
      std::vector<char*> argv;
      for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
      }
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }

  ~PtyProgram() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
      close(master_);
    }
  }

  // Reads output for `duration`; true once `text` has been seen (then returns at once).
  bool ReadFor(Clock::duration duration, const std::string& text = "") {
    const auto end = Clock::now() + duration;
    while (Clock::now() < end) {
      if (!text.empty() && output_.find(text) != std::string::npos) {
        return true;
      }
      pollfd descriptor{master_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (poll(&descriptor, 1, static_cast<int>(std::max<long>(left.count(), 1))) > 0) {
        char buffer[65536];
        const ssize_t got = read(master_, buffer, sizeof buffer);
        if (got <= 0) {
          return false;
        }
        output_.append(buffer, static_cast<size_t>(got));
        // Only the tail is needed to find a text.
        if (output_.size() > (1 << 20)) {
          output_.erase(0, output_.size() - 4096);
        }
      }
    }
    return !text.empty() && output_.find(text) != std::string::npos;
  }

  // User and system CPU seconds so far, from /proc.
  double CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t after_name = content.rfind(')');
    if (after_name == std::string::npos) {
      return -1;
    }
    std::istringstream fields(content.substr(after_name + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; fields >> field; ++i) {
      if (i == 14) {
        utime = std::stol(field);
      } else if (i == 15) {
        stime = std::stol(field);
        break;
      }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  void Quit() {
    static_cast<void>(write(master_, "\x1b", 1));
    ReadFor(std::chrono::milliseconds(500));
  }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
};

double FfplayCpuSeconds(const std::string& file) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  return RunProgram({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", file}).cpu_seconds;
}

void StartUp(const std::string& program, const fs::path& folder) {
  for (int i = 0; i < 10000; ++i) {
    std::ofstream(folder / ("track " + std::to_string(10000 + i) + ".mp3")) << "x";
  }
  std::vector<double> milliseconds;
  for (int run = 0; run < 5; ++run) {
    const auto start = Clock::now();
    PtyProgram brevalo({program, folder.string()}, "dummy");
    if (!brevalo.ReadFor(std::chrono::seconds(10), "FILE BROWSER")) {
      std::printf("start-up: no first frame\n");
      return;
    }
    milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    brevalo.Quit();
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  std::printf("start-up to the first frame, 10,000 files: median %.1f ms (best %.1f, worst %.1f)\n",
              milliseconds[2], milliseconds[0], milliseconds[4]);
}

void Idle(const std::string& program, const fs::path& folder, int seconds) {
  PtyProgram brevalo({program, folder.string()}, "dummy");
  if (!brevalo.ReadFor(std::chrono::seconds(10), "FILE BROWSER")) {
    std::printf("idle: no first frame\n");
    return;
  }
  const double before = brevalo.CpuSeconds();
  brevalo.ReadFor(std::chrono::seconds(seconds));
  const double used = brevalo.CpuSeconds() - before;
  std::printf("idle, browser open, nothing playing, %d s: %.3f s CPU = %.2f %% of one core\n",
              seconds, used, 100.0 * used / seconds);
  brevalo.Quit();
}

void Playing(const std::string& program, const std::string& file, const char* name, int seconds) {
  PtyProgram brevalo({program, file}, "dummy");
  // The whole process from its start, as ffplay's figure is: until the track has ended.
  brevalo.ReadFor(std::chrono::seconds(seconds + 1));
  const double ours = brevalo.CpuSeconds();
  brevalo.Quit();
  const double ffplay = FfplayCpuSeconds(file);
  std::printf("playing a %d s %s to its end: brevalo %.3f s CPU, ffplay %.3f s, ratio %.2f\n",
              seconds, name, ours, ffplay, ours / ffplay);
}

}  // namespace

int main(int argc, char** argv) {
  const int idle_seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int track_seconds = argc > 2 ? std::atoi(argv[2]) : 60;
  const std::string program =
      fs::canonical("/proc/self/exe").parent_path().parent_path() / "brevalo";
  const fs::path folder = fs::temp_directory_path() / ("brevalo-bench-" + std::to_string(getpid()));
  fs::create_directories(folder / "many");
  fs::create_directories(folder / "media");

  StartUp(program, folder / "many");
  Idle(program, folder / "many", idle_seconds);

  const std::string mp3 = (folder / "media" / "song.mp3").string();
  const std::string flac = (folder / "media" / "song.flac").string();
  if (!MakeBenchMedia(mp3, track_seconds, {"-c:a", "libmp3lame", "-b:a", "192k"}) ||
      !MakeBenchMedia(flac, track_seconds, {"-c:a", "flac"})) {
    std::printf("ffmpeg could not make the media\n");
    return 1;
  }
  Playing(program, mp3, "MP3", track_seconds);
  Playing(program, flac, "FLAC", track_seconds);
  fs::remove_all(folder);
  return 0;
}
