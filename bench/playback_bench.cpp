// What playing costs: the CPU time of a whole process that plays a 60 s MP3 and a 60 s FLAC to
// their end in real time (against ffplay on the same files), the peak memory while a 1.3 MB MP3
// plays, and how long LoadAndPlay takes for a 10 MB MP3. Everything plays on SDL's dummy
// driver, which keeps real time without a sound card. Media are made with the ffmpeg tool.
//
// Run: build/bench/playback_bench [seconds]   (seconds of the CPU-time media, 60 by default;
//      0 skips the CPU-time comparison)
// Inner mode, used by the benchmark itself: playback_bench --play FILE [seconds]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "audio/playback_state.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFrameInterval = std::chrono::milliseconds(50);

struct ProcessCost {
  bool ok = false;
  double cpu_seconds = 0;
  double wall_seconds = 0;
  double peak_rss_mb = 0;
};

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Runs a program with no input or output; what it cost, from the kernel's own accounting.
ProcessCost Run(std::vector<std::string> arguments) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  ProcessCost cost;
  auto start = Clock::now();
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return cost;
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  cost.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  cost.cpu_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  cost.peak_rss_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return cost;
}

// A tone with some noise, so that the encoders work as they would on music.
bool MakeMedia(const std::string& path, double seconds, const std::vector<std::string>& codec) {
  std::vector<std::string> arguments = {"ffmpeg",
                                        "-nostdin",
                                        "-v",
                                        "error",
                                        "-y",
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "aevalsrc=exprs=0.3*sin(2*PI*440*t)+0.1*(random(0)-0.5)|"
                                        "0.3*sin(2*PI*660*t)+0.1*(random(1)-0.5):s=44100:d=" +
                                            std::to_string(seconds)};
  arguments.insert(arguments.end(), codec.begin(), codec.end());
  arguments.push_back(path);
  return Run(arguments).ok;
}

// The inner mode: plays `path` as the program does, polling every 50 ms, until it has played
// out or `limit_seconds` have passed.
int PlayLikeTheProgram(const std::string& path, double limit_seconds) {
  PlaybackState state;
  if (!LoadAndPlay(state, path)) {
    return 1;
  }
  auto deadline = Clock::now() + std::chrono::duration<double>(limit_seconds);
  AudioTimeStamp now{};
  while (Clock::now() < deadline &&
         (!state.player->finished.load() ||
          AudioQueueGetCurrentTime(state.player->queue, nullptr, &now, nullptr) == noErr)) {
    state.position = PlayerCurrentTime(state.player);
    std::this_thread::sleep_for(kFrameInterval);
  }
  StopPlayback(state);
  return 0;
}

void CompareCpu(const std::string& self, const std::string& name, const std::string& path) {
  ProcessCost ours = Run({self, "--play", path});
  ProcessCost ffplay = Run({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", path});
  if (!ours.ok) {
    std::printf("%-5s ours failed\n", name.c_str());
    return;
  }
  std::printf("%-5s ours   %6.2f s CPU in %6.1f s\n", name.c_str(), ours.cpu_seconds,
              ours.wall_seconds);
  if (!ffplay.ok) {
    std::printf("%-5s ffplay failed or missing: no ratio\n", name.c_str());
    return;
  }
  std::printf("%-5s ffplay %6.2f s CPU in %6.1f s\n", name.c_str(), ffplay.cpu_seconds,
              ffplay.wall_seconds);
  std::printf("%-5s CPU ratio ours/ffplay %.3f (goal <= 0.25)\n", name.c_str(),
              ours.cpu_seconds / ffplay.cpu_seconds);
}

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// LoadAndPlay of a large file: from nothing playing, and switching from itself while it plays.
void TimeLoadAndPlay(const std::string& path) {
  constexpr int kRuns = 9;
  PlaybackState state;
  std::vector<double> from_idle;
  std::vector<double> switching;
  for (int run = 0; run <= kRuns; ++run) {
    StopPlayback(state);
    auto start = Clock::now();
    bool ok = LoadAndPlay(state, path);
    auto loaded = Clock::now();
    ok = ok && LoadAndPlay(state, path);
    auto switched = Clock::now();
    if (!ok) {
      std::printf("LoadAndPlay failed\n");
      return;
    }
    if (run > 0) {  // The first run warms the file cache and the libraries.
      from_idle.push_back(Milliseconds(loaded - start));
      switching.push_back(Milliseconds(switched - loaded));
    }
  }
  StopPlayback(state);
  std::sort(from_idle.begin(), from_idle.end());
  std::sort(switching.begin(), switching.end());
  std::printf(
      "LoadAndPlay %.1f MB MP3, nothing playing: median %6.1f ms, max %6.1f ms (goal < 20)\n",
      static_cast<double>(std::filesystem::file_size(path)) / 1e6, from_idle[from_idle.size() / 2],
      from_idle.back());
  std::printf("LoadAndPlay %.1f MB MP3, while it plays:  median %6.1f ms, max %6.1f ms\n",
              static_cast<double>(std::filesystem::file_size(path)) / 1e6,
              switching[switching.size() / 2], switching.back());
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // Figures show as they come, also into a file.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  if (argc >= 3 && std::string(argv[1]) == "--play") {
    return PlayLikeTheProgram(argv[2], argc >= 4 ? std::atof(argv[3]) : 1e9);
  }
  const double seconds = argc >= 2 ? std::atof(argv[1]) : 60.0;
  char folder_template[] = "/tmp/playback-bench-XXXXXX";
  if (mkdtemp(folder_template) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path folder = folder_template;
  const std::string mp3 = folder / "long.mp3";
  const std::string flac = folder / "long.flac";
  const std::string small_mp3 = folder / "small.mp3";  // 80 s at 128 kbit/s: about 1.3 MB.
  const std::string large_mp3 = folder / "large.mp3";  // 640 s at 128 kbit/s: about 10 MB.
  const std::vector<std::string> mp3_codec = {"-c:a", "libmp3lame", "-b:a", "128k"};
  const bool compare_cpu = seconds > 0;
  if ((compare_cpu &&
       (!MakeMedia(mp3, seconds, mp3_codec) || !MakeMedia(flac, seconds, {"-c:a", "flac"}))) ||
      !MakeMedia(small_mp3, 80, mp3_codec) || !MakeMedia(large_mp3, 640, mp3_codec)) {
    std::printf("the ffmpeg tool failed to make the media\n");
    std::filesystem::remove_all(folder);
    return 1;
  }
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");

  if (compare_cpu) {
    std::printf("Playing %.0f s files to the end in real time, SDL_AUDIODRIVER=dummy\n", seconds);
    CompareCpu(self, "MP3", mp3);
    CompareCpu(self, "FLAC", flac);
  }

  ProcessCost small = Run({self, "--play", small_mp3, "5"});
  // A run that fails at once: what the process holds before it plays anything (its libraries).
  ProcessCost idle = Run({self, "--play", folder / "absent.mp3"});
  std::printf(
      "Peak RSS playing a %.2f MB MP3 (5 s): %.1f MB (goal <= 30); %.1f MB before playing\n",
      static_cast<double>(std::filesystem::file_size(small_mp3)) / 1e6, small.peak_rss_mb,
      idle.peak_rss_mb);

  TimeLoadAndPlay(large_mp3);
  std::filesystem::remove_all(folder);
  return 0;
}
