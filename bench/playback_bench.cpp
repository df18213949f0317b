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

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "audio/playback_state.h"
#include "bench/bench_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFrameInterval = std::chrono::milliseconds(50);

// The inner mode: plays `path` as the program does, polling every 50 ms, until it has played
// out or `limit_seconds` have passed.
int PlayLikeTheProgram(const std::string& path, double limit_seconds) {
  PlaybackState state;
  if (!LoadAndPlay(state, path)) {
    return 1;
  }
  auto deadline = Clock::now() + std::chrono::duration<double>(limit_seconds);
  const std::string none;
  const FileOnListing nothing = [&none](const std::string&, bool) -> const std::string& {
    return none;
  };
  while (Clock::now() < deadline) {
    StepPlayback(state, nothing);
    if (state.heard.change.kind == SequenceChangeKind::kEnded) {
      break;
    }
    std::this_thread::sleep_for(kFrameInterval);
  }
  StopPlayback(state);
  return 0;
}

void CompareCpu(const std::string& self, const std::string& name, const std::string& path) {
  ProcessCost ours = RunProgram({self, "--play", path});
  ProcessCost ffplay = RunProgram({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", path});
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
  if (argc >= 3 && std::string(argv[1]) == "--play") {
    return PlayLikeTheProgram(argv[2], argc >= 4 ? std::atof(argv[3]) : 1e9);
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
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
  if ((compare_cpu && (!MakeBenchMedia(mp3, seconds, mp3_codec) ||
                       !MakeBenchMedia(flac, seconds, {"-c:a", "flac"}))) ||
      !MakeBenchMedia(small_mp3, 80, mp3_codec) || !MakeBenchMedia(large_mp3, 640, mp3_codec)) {
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

  ProcessCost small = RunProgram({self, "--play", small_mp3, "5"});
  // A run that fails at once: what the process holds before it plays anything (its libraries).
  ProcessCost idle = RunProgram({self, "--play", folder / "absent.mp3"});
  std::printf(
      "Peak RSS playing a %.2f MB MP3 (5 s): %.1f MB (goal <= 30); %.1f MB before playing\n",
      static_cast<double>(std::filesystem::file_size(small_mp3)) / 1e6, small.peak_rss_mb,
      idle.peak_rss_mb);

  TimeLoadAndPlay(large_mp3);
  std::filesystem::remove_all(folder);
  return 0;
}
