// What the whole program costs, run on a pseudo-terminal as a user would run it:
// - start-up in a folder of 10,000 supported files, until the first frame is on the terminal;
// - CPU with the browser open and nothing playing, over a long stretch, beside an empty 20 Hz
//   loop that maps the same libraries (bench/pass_floor), the floor under the pass;
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
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bench_process.h"
#include "bench/pass_floor_beside.h"
#include "bench/pty_program.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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
    PtyProgram brevalo({program, folder.string()}, {{"SDL_AUDIODRIVER", "dummy"}});
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
  PtyProgram brevalo({program, folder.string()}, {{"SDL_AUDIODRIVER", "dummy"}});
  if (!brevalo.ReadFor(std::chrono::seconds(10), "FILE BROWSER")) {
    std::printf("idle: no first frame\n");
    return;
  }
  // The scheduler's own count, to the nanosecond: an idle minute is a few clock ticks only.
  const CostBesideFloor cost = MeasureBesideFloor(
      brevalo.pid(), seconds, [&] { brevalo.ReadFor(std::chrono::seconds(seconds)); });
  PrintBesideFloor("idle, browser open, nothing playing,", cost);
  brevalo.Quit();
}

void Playing(const std::string& program, const std::string& file, const char* name, int seconds) {
  PtyProgram brevalo({program, file}, {{"SDL_AUDIODRIVER", "dummy"}});
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
