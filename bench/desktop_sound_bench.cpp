// What playing through the desktop's sound server costs and how quickly it answers, against a
// private PulseAudio daemon whose only sink is a null sink (the test command's own), then
// PipeWire through its Pulse service, then PipeWire through its own protocol:
// - player and server CPU (the server's own idle cost taken off) while a 60 s MP3 and a 60 s FLAC
//   play to their end, and the same for ffplay on the same files, in the same run, through SDL's
//   pulseaudio driver and, on PipeWire, its pipewire driver; on PipeWire, the graph's cycles a
//   second meanwhile (pw-profiler);
// - player and server CPU over 20 s of pause, beside an empty 20 Hz loop that maps the same
//   libraries (bench/pass_floor), the floor under the pass; the player's context switches a second;
//   its peak resident memory;
// - how long a change of track holds the main thread: the old track's stop, the new file's
//   load, the new output's start;
// - how far the clock is from the sound, at a pause;
// - the silence heard at a change of track and between tracks at the automatic advance, from a
//   recording of the sink with a 20 ms recorder, as a desktop with a sound card would hear it;
// - the time from Escape to the end of the process, and the same while the server hangs
//   (its daemons stopped).
//
// Run: build/bench/desktop_sound_bench [seconds [PulseAudio|PipeWire|PipeWireNative]]   (length
//      of the CPU media, 60 by default, 0 skips the CPU comparison; every server and protocol
//      unless one is named)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "audio/playback_state.h"
#include "bench/bench_process.h"
#include "bench/pass_floor_beside.h"
#include "bench/pty_program.h"
#include "tests/audio/one_track_player.h"
#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/process.h"
#include "tests/support/sound_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double FramesToMs(int64_t frames) { return static_cast<double>(frames) / 44.1; }

struct Bench {
  test_support::SoundServer& server;
  std::string program;
  fs::path folder;
  // CPU seconds a second that the daemon spends with no client at all: its null sink renders
  // silence on its own. It is taken off every server figure below, so that what remains is
  // what the client under test costs the server.
  double server_idle_rate = 0;

  std::vector<std::pair<std::string, std::string>> Environment() const {
    const std::map<std::string, std::string> environment = server.ClientEnvironment();
    return {environment.begin(), environment.end()};
  }
  // The daemons' threads live as long as they do, so the scheduler's own accounting (to the
  // nanosecond) is whole.
  double ServerCpu() const {
    double seconds = 0;
    for (pid_t daemon : server.daemon_pids()) {
      seconds += ThreadsCpuSeconds(daemon);
    }
    return seconds;
  }
};

// The graph's cycles a second while something plays through PipeWire, from its profiler (one
// line a cycle), and the period of the last cycle. Nothing on PulseAudio, which has no graph.
class GraphCycles {
 public:
  explicit GraphCycles(const Bench& bench) : log_(bench.folder / "profiler.log") {
    if (!test_support::IsPipeWire(bench.server.kind())) {
      return;
    }
    fs::remove(log_);
    start_ = Clock::now();
    // In the bench's folder: the profiler leaves its plots where it runs.
    profiler_ = test_support::SpawnProgram(
        {"env", "-C", bench.folder.string(), "pw-profiler", "-o", log_.string()},
        bench.server.environment(), "/dev/null", "/dev/null");
  }
  ~GraphCycles() { Stop(); }
  GraphCycles(const GraphCycles&) = delete;
  GraphCycles& operator=(const GraphCycles&) = delete;

  // " (graph: N cycles/s of M ms)", or "" on PulseAudio.
  std::string Report() {
    if (profiler_ <= 0) {
      return "";
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    Stop();
    std::ifstream log(log_);
    std::string line;
    std::string last;
    int cycles = 0;
    while (std::getline(log, line)) {
      ++cycles;
      last = line;
    }
    std::istringstream fields(last);
    double period_us = 0;
    for (int field = 0; field < 4 && fields >> period_us; ++field) {
    }
    char text[96];
    std::snprintf(text, sizeof text, " (graph: %.1f cycles/s of %.1f ms)", cycles / seconds,
                  period_us / 1000);
    return text;
  }

 private:
  void Stop() {
    if (profiler_ > 0) {
      kill(profiler_, SIGINT);
      test_support::WaitForProgram(profiler_);
      profiler_ = -1;
    }
  }

  fs::path log_;
  Clock::time_point start_;
  pid_t profiler_ = -1;
};

// Server CPU over a stretch that began at `start` with `cpu_at_start`, less its idle share.
double ServerCpuSince(const Bench& bench, Clock::time_point start, double cpu_at_start) {
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return std::max(0.0, bench.ServerCpu() - cpu_at_start - bench.server_idle_rate * seconds);
}

double MeasureServerIdleRate(const Bench& bench) {
  const double before = bench.ServerCpu();
  std::this_thread::sleep_for(seconds(20));
  return (bench.ServerCpu() - before) / 20;
}

// The whole program plays `file` to its end; then ffplay does.
void CompareCpu(const Bench& bench, const std::string& name, const std::string& file,
                double seconds) {
  double server_before = bench.ServerCpu();
  auto start = Clock::now();
  GraphCycles brevalo_cycles(bench);
  PtyProgram brevalo({bench.program, file}, bench.Environment());
  brevalo.ReadFor(
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds + 1.0)));
  const double ours = brevalo.CpuSeconds();
  const double ours_server = ServerCpuSince(bench, start, server_before);
  const double switches = static_cast<double>(brevalo.ContextSwitches()) / (seconds + 1.0);
  const double peak = brevalo.PeakResidentMb();
  const std::string brevalo_graph = brevalo_cycles.Report();
  brevalo.Quit();
  std::printf(
      "%-4s brevalo %.2f s + server %.2f s = %.2f s CPU%s; %.0f context switches/s; "
      "peak RSS %.1f MB\n",
      name.c_str(), ours, ours_server, ours + ours_server, brevalo_graph.c_str(), switches, peak);
  std::vector<std::string> drivers = {"pulseaudio"};
  if (test_support::IsPipeWire(bench.server.kind())) {
    drivers.push_back("pipewire");
  }
  for (const std::string& driver : drivers) {
    setenv("SDL_AUDIODRIVER", driver.c_str(), 1);
    server_before = bench.ServerCpu();
    start = Clock::now();
    GraphCycles ffplay_cycles(bench);
    const ProcessCost ffplay =
        RunProgram({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", file});
    const double ffplay_server = ServerCpuSince(bench, start, server_before);
    const std::string ffplay_graph = ffplay_cycles.Report();
    unsetenv("SDL_AUDIODRIVER");
    if (!ffplay.ok) {
      std::printf("%-4s ffplay (SDL %s) failed or missing: no ratio\n", name.c_str(),
                  driver.c_str());
      continue;
    }
    std::printf("%-4s ffplay (SDL %s) %.2f s + server %.2f s = %.2f s CPU%s\n", name.c_str(),
                driver.c_str(), ffplay.cpu_seconds, ffplay_server,
                ffplay.cpu_seconds + ffplay_server, ffplay_graph.c_str());
    std::printf("%-4s ratio brevalo/ffplay (SDL %s) %.2f (goal <= 0.25)\n", name.c_str(),
                driver.c_str(), (ours + ours_server) / (ffplay.cpu_seconds + ffplay_server));
  }
}

void Paused(const Bench& bench, const std::string& file) {
  PtyProgram brevalo({bench.program, file}, bench.Environment());
  brevalo.ReadFor(seconds(2));
  brevalo.Type(" ");
  brevalo.ReadFor(seconds(1));
  // To the nanosecond: the figures are a few milliseconds.
  const double server_before = bench.ServerCpu();
  const auto start = Clock::now();
  constexpr int kSeconds = 20;
  const CostBesideFloor cost =
      MeasureBesideFloor(brevalo.pid(), kSeconds, [&] { brevalo.ReadFor(seconds(kSeconds)); });
  const double server = ServerCpuSince(bench, start, server_before);
  PrintBesideFloor("paused, brevalo alone,", cost);
  std::printf("paused %d s: brevalo %.3f s + server %.3f s = %.3f %% of one core (goal <= 0.1)\n",
              kSeconds, cost.player_cpu, server, 100 * (cost.player_cpu + server) / kSeconds);
  brevalo.Quit();
}

// A change of track while one plays, as Return on another file does, in its three parts: the
// old track's stop (FreePlayer and CloseTrack), the new file's load (read whole and measured),
// and its output's creation and start.
void SwitchCost(const std::string& file) {
  PlaybackState state;
  Spread stops;
  Spread loads;
  Spread starts;
  for (int run = 0; run < 9; ++run) {
    if (!LoadAndPlay(state, file)) {
      std::printf("switch: LoadAndPlay failed\n");
      return;
    }
    std::this_thread::sleep_for(milliseconds(700));
    auto start = Clock::now();
    StopPlayback(state);
    stops.Add(Milliseconds(Clock::now() - start));
    start = Clock::now();
    OwnedTrack track(new AudioTrack);
    LoadTrack(track.get(), file.c_str());
    loads.Add(Milliseconds(Clock::now() - start));
    start = Clock::now();
    Player* player = engine_test::CreateOneTrackPlayer(track.get());
    StartPlayer(player);
    starts.Add(Milliseconds(Clock::now() - start));
    FreePlayer(player);
  }
  std::printf(
      "change of track (goal: no pass held over 10 ms): stop of the old track median "
      "%.2f ms, max %.2f; new output made and started median %.2f ms, max %.2f; "
      "loading a %.1f MB MP3 whole median %.1f ms, max %.1f\n",
      stops.Median(), stops.Max(), starts.Median(), starts.Max(),
      static_cast<double>(fs::file_size(file)) / 1e6, loads.Median(), loads.Max());
}

// The position the clock shows at a pause against the frames the sink had played when the
// sound stopped.
void ClockAgainstSound(const Bench& bench, const std::string& file) {
  Spread differences;
  for (int run = 0; run < 5; ++run) {
    bench.server.StartRecording();
    PlaybackState state;
    LoadAndPlay(state, file);
    std::this_thread::sleep_for(milliseconds(1200 + 100 * run));
    state.sequence.Snapshot(state.heard);
    const double shown = state.heard.position;
    state.sequence.PauseHeard();
    std::this_thread::sleep_for(milliseconds(300));
    StopPlayback(state);
    const std::vector<int16_t> heard =
        test_support::WithoutSilentFrames(bench.server.StopRecording(), 2);
    differences.Add(1000 * (shown - static_cast<double>(heard.size() / 2) / 44100));
  }
  const double median = differences.Median();
  const double widest = std::abs(differences.values.front()) > std::abs(differences.values.back())
                            ? differences.values.front()
                            : differences.values.back();
  std::printf(
      "clock at a pause minus the sound heard until it: median %+.1f ms, widest %+.1f ms "
      "(goal within 50)\n",
      median, widest);
}

// The silence heard between the old track's last frame and the new one's first.
void SwitchSilence(const Bench& bench, const std::string& first, const std::string& second) {
  Spread gaps;
  for (int run = 0; run < 5; ++run) {
    bench.server.StartRecording();
    PlaybackState state;
    LoadAndPlay(state, first);
    std::this_thread::sleep_for(milliseconds(800));
    LoadAndPlay(state, second);
    std::this_thread::sleep_for(milliseconds(500));
    StopPlayback(state);
    const std::vector<int64_t> silences =
        test_support::InnerSilences(bench.server.StopRecording(), 2);
    gaps.Add(silences.empty() ? 0
                              : FramesToMs(*std::max_element(silences.begin(), silences.end())));
  }
  std::printf("silence heard at a change of track: median %.0f ms, max %.0f ms (goal <= 100)\n",
              gaps.Median(), gaps.Max());
}

// Three tracks of a folder, one after the other by themselves, in the whole program.
void AdvanceSilence(const Bench& bench, const fs::path& folder) {
  bench.server.StartRecording();
  PtyProgram brevalo({bench.program, (folder / "1.wav").string()}, bench.Environment());
  brevalo.ReadFor(seconds(8));
  brevalo.Quit();
  const std::vector<int64_t> silences =
      test_support::InnerSilences(bench.server.StopRecording(), 2);
  std::printf("silence between tracks at the automatic advance:");
  for (int64_t frames : silences) {
    std::printf(" %.0f ms", FramesToMs(frames));
  }
  std::printf(" (goal <= 100)\n");
}

void EscapeToExit(const Bench& bench, const std::string& file) {
  Spread waits;
  for (int run = 0; run < 5; ++run) {
    PtyProgram brevalo({bench.program, file}, bench.Environment());
    brevalo.ReadFor(milliseconds(1500));
    brevalo.Type("\x1b");
    waits.Add(1000 * brevalo.WaitForExit(seconds(5)));
  }
  std::printf(
      "Escape to the end of the process while playing: median %.0f ms, max %.0f ms "
      "(goal <= 200)\n",
      waits.Median(), waits.Max());
}

// Escape while the server hangs: its daemons stopped, they answer nothing until continued.
void EscapeWhileHung(const Bench& bench, const std::string& file) {
  Spread waits;
  for (int run = 0; run < 5; ++run) {
    PtyProgram brevalo({bench.program, file}, bench.Environment());
    brevalo.ReadFor(milliseconds(1500));
    for (const pid_t daemon : bench.server.daemon_pids()) {
      kill(daemon, SIGSTOP);
    }
    brevalo.Type("\x1b");
    waits.Add(1000 * brevalo.WaitForExit(seconds(5)));
    for (const pid_t daemon : bench.server.daemon_pids()) {
      kill(daemon, SIGCONT);
    }
    bench.server.Answers(seconds(2));
  }
  std::printf(
      "Escape to the end of the process while the server hangs: median %.0f ms, max %.0f ms "
      "(goal <= 200)\n",
      waits.Median(), waits.Max());
}

bool MakeTone(const fs::path& path, double seconds, int tone) {
  test_support::MediaRecipe recipe =
      test_support::Recipe(test_support::MediaFormat::kWav, seconds, 2, 44100);
  recipe.tone_hz = tone;
  const std::string made = test_support::MakeMedia(recipe);
  return !made.empty() && fs::copy_file(made, path);
}

}  // namespace

int RunOn(test_support::ServerKind kind, double seconds) {
  test_support::SoundServer server(kind, test_support::GraphQuantum::kDesktop);
  if (!server.ok()) {
    std::printf(
        "the private sound server did not start (pulseaudio or pipewire, "
        "pulseaudio-utils)\n");
    return 1;
  }
  server.SetClientEnvironment();
  const fs::path folder = fs::temp_directory_path() / ("desktop-bench-" + std::to_string(getpid()));
  fs::create_directories(folder / "advance");
  Bench bench{server, fs::canonical("/proc/self/exe").parent_path().parent_path() / "brevalo",
              folder};
  const std::string mp3 = folder / "long.mp3";
  const std::string flac = folder / "long.flac";
  const std::string large_mp3 = folder / "large.mp3";  // 240 s at 128 kbit/s: about 3.8 MB.
  const std::vector<std::string> mp3_codec = {"-c:a", "libmp3lame", "-b:a", "128k"};
  if (!MakeBenchMedia(mp3, seconds, mp3_codec) ||
      !MakeBenchMedia(flac, seconds, {"-c:a", "flac"}) ||
      !MakeBenchMedia(large_mp3, 240, mp3_codec) || !MakeTone(folder / "a.wav", 3, 440) ||
      !MakeTone(folder / "b.wav", 2, 1000) || !MakeTone(folder / "advance/1.wav", 2, 440) ||
      !MakeTone(folder / "advance/2.wav", 2, 660) || !MakeTone(folder / "advance/3.wav", 2, 880)) {
    std::printf("the ffmpeg tool failed to make the media\n");
    fs::remove_all(folder);
    return 1;
  }
  bench.server_idle_rate = MeasureServerIdleRate(bench);
  std::printf(
      "Through a private %s (null sink, 44.1 kHz s16le); with no client it uses %.2f %% "
      "of one core, which the server figures leave out\n",
      kind == test_support::ServerKind::kPulseAudio ? "PulseAudio daemon"
      : kind == test_support::ServerKind::kPipeWire ? "PipeWire, through its Pulse service"
                                                    : "PipeWire, through its own protocol",
      100 * bench.server_idle_rate);
  if (seconds > 0) {
    CompareCpu(bench, "MP3", mp3, seconds);
    CompareCpu(bench, "FLAC", flac, seconds);
  }
  Paused(bench, mp3);
  SwitchCost(large_mp3);
  ClockAgainstSound(bench, folder / "a.wav");
  SwitchSilence(bench, folder / "a.wav", folder / "b.wav");
  AdvanceSilence(bench, folder / "advance");
  EscapeToExit(bench, mp3);
  EscapeWhileHung(bench, mp3);
  fs::remove_all(folder);
  return 0;
}

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
  const std::string only = argc > 2 ? argv[2] : "";
  int status = 0;
  for (const auto kind :
       {test_support::ServerKind::kPulseAudio, test_support::ServerKind::kPipeWire,
        test_support::ServerKind::kPipeWireNative}) {
    if (only.empty() || only == test_support::NameOf(kind)) {
      status |= RunOn(kind, seconds);
    }
  }
  return status;
}
