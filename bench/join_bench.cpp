// The joins between tracks, through a private sound server:
// - one shape: an album of three WAV files cut from one signal, played by the whole program
//   from its first file by the automatic advance: the frames heard between two tracks that
//   are not the album's (silence added) and the album's frames not heard (lost); 0 is the goal;
// - two shapes: a stereo track, then a mono one: the silence heard between them;
// - ffplay, one file after the other on the same sink, for comparison: the silence between;
// - how late the end is found, in the engine (the program's pass adds up to 50 ms): for a
//   track with nothing after it, from the moment its last frame is heard by the stream's clock
//   to the moment the Player counts as played out; for a track of one shape with another after
//   it, from the moment the clock passes its length to the moment the next one is followed.
// - slow storage: an album on a paced mirror where reading a file takes 0, 25 % and 50 % of its
//   length, by the program and by mpv with its playlist prefetch (join_bench_slow.cpp);
// - on the stress sink: how late the next title shows, beside mpv, and how soon an ended
//   track's stream is corked (join_bench_stress.cpp);
// - keys while a chosen file is read from slow storage: Down, and Escape (join_bench_slow.cpp).
// What is heard comes from a recording of the sink, so it is only read on the faithful sinks;
// on the stress sink (a null sink at its defaults, which renders ahead) only the timings are.
//
// Run: build/bench/join_bench [PulseAudio|PipeWire|PipeWireNative|PulseAudioRenderingAhead|Keys]
//      (all of them when none is named)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "audio/playback_state.h"
#include "bench/bench_process.h"
#include "bench/join_bench_parts.h"
#include "bench/pty_program.h"
#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/sound_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test_support::ServerKind;

constexpr int kChannels = 2;
const std::vector<int64_t> kAlbumFrames = {57331, 58003, 56789};

double FramesToMs(int64_t frames) { return static_cast<double>(frames) / 44.1; }

double Since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Sink {
  test_support::SoundServer& server;
  bool faithful;  // Its recording is what a desktop hears.
  std::string program;

  std::vector<std::pair<std::string, std::string>> Environment() const {
    const std::map<std::string, std::string> environment = server.ClientEnvironment();
    return {environment.begin(), environment.end()};
  }
};

// The program plays `first` and what follows it in its folder for `seconds`; what was heard.
std::vector<int16_t> PlayByTheProgram(const Sink& sink, const std::string& first, double seconds) {
  sink.server.StartRecording();
  PtyProgram brevalo({sink.program, first}, sink.Environment());
  brevalo.ReadFor(
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  brevalo.Quit();
  return sink.server.StopRecording();
}

void OneShape(const Sink& sink, const fs::path& folder) {
  fs::create_directories(folder);
  const std::vector<std::string> tracks =
      test_support::CutMedia(test_support::MediaFormat::kWav, kAlbumFrames, folder);
  std::vector<int16_t> album;
  for (const std::string& track : tracks) {
    const std::vector<int16_t> pcm = test_support::ReferencePcm(track);
    album.insert(album.end(), pcm.begin(), pcm.end());
  }
  const std::vector<int16_t> heard = PlayByTheProgram(sink, tracks.front(), 5.5);
  size_t first = 0;
  while (first + 1 < heard.size() && heard[first] == 0 && heard[first + 1] == 0) {
    first += kChannels;
  }
  const size_t span = std::min(album.size(), heard.size() - first);
  const std::vector<int16_t> played(heard.begin() + first, heard.begin() + first + span);
  int64_t silent = 0;
  for (int64_t run : test_support::InnerSilences(played, kChannels)) {
    silent += run;
  }
  const std::vector<int16_t> sound = test_support::WithoutSilentFrames(played, kChannels);
  size_t same = 0;
  while (same < sound.size() && sound[same] == album[same]) {
    ++same;
  }
  std::printf(
      "  one shape, 3 WAV tracks of 1.3 s by the program: %lld frames of silence between "
      "tracks, %lld of the album's frames lost or changed (goal 0 and 0)\n",
      static_cast<long long>(silent), static_cast<long long>((album.size() - same) / kChannels));
}

void TwoShapes(const Sink& sink, const fs::path& folder) {
  fs::create_directories(folder);
  test_support::MediaRecipe stereo = test_support::Recipe(test_support::MediaFormat::kWav, 1.5);
  test_support::MediaRecipe mono = test_support::Recipe(test_support::MediaFormat::kWav, 1.5, 1);
  fs::copy_file(test_support::MakeMedia(stereo), folder / "1 stereo.wav");
  fs::copy_file(test_support::MakeMedia(mono), folder / "2 mono.wav");
  const std::vector<int64_t> silences =
      test_support::InnerSilences(PlayByTheProgram(sink, folder / "1 stereo.wav", 3.5), kChannels);
  std::printf(
      "  two shapes (stereo, then mono) by the program: silence between them %.0f ms "
      "(goal <= 50)\n",
      silences.empty() ? 0.0 : FramesToMs(silences.front()));
}

void FfplayOneAfterTheOther(const Sink& sink, const fs::path& folder) {
  const std::string a = (folder / "1 stereo.wav").string();
  sink.server.StartRecording();
  setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
  const ProcessCost first = RunProgram({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", a});
  const ProcessCost second =
      RunProgram({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", a});
  unsetenv("SDL_AUDIODRIVER");
  const std::vector<int64_t> silences =
      test_support::InnerSilences(sink.server.StopRecording(), kChannels);
  if (!first.ok || !second.ok) {
    std::printf("  ffplay failed or missing\n");
    return;
  }
  std::printf(
      "  ffplay, one file after the other: silence between them %.0f ms; each run "
      "%.2f s for a 1.50 s file\n",
      silences.empty() ? 0.0 : FramesToMs(silences.front()), first.wall_seconds);
}

// Milliseconds from the moment the track was started until `done` holds, less the track's
// length: how late the end is found as the user sees it. -1 when it never is.
template <typename Done>
double LateBy(double length_ms, Done done) {
  const auto start = Clock::now();
  while (Since(start) < 10000) {
    if (done()) {
      return Since(start) - length_ms;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return -1;
}

void EndsFound() {
  test_support::MediaRecipe recipe = test_support::Recipe(test_support::MediaFormat::kWav, 2.0);
  const std::string track = test_support::MakeMedia(recipe);
  Spread ends;
  Spread joins;
  for (int run = 0; run < 5; ++run) {
    const std::string none;
    const FileOnListing nothing = [&none](const std::string&, bool) -> const std::string& {
      return none;
    };
    const FileOnListing again = [&track](const std::string&, bool) -> const std::string& {
      return track;
    };
    PlaybackState alone;
    LoadAndPlay(alone, track);
    StepPlayback(alone, nothing);
    ends.Add(LateBy(2000, [&] {
      StepPlayback(alone, nothing);
      return alone.heard.change.kind == SequenceChangeKind::kEnded;
    }));
    StopPlayback(alone);

    PlaybackState joined;
    LoadAndPlay(joined, track);
    StepPlayback(joined, again);
    joins.Add(LateBy(2000, [&] {
      StepPlayback(joined, again);
      return joined.heard.change.kind == SequenceChangeKind::kMovedOn;
    }));
    StopPlayback(joined);
  }
  setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
  const ProcessCost ffplay =
      RunProgram({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", track});
  unsetenv("SDL_AUDIODRIVER");
  std::printf(
      "  a 2.00 s track, from its start: its end found %.0f ms late (max %.0f) with nothing "
      "after it, the next one of its format followed %.0f ms late (max %.0f) (goal <= 50); "
      "ffplay exits %.0f ms late\n",
      ends.Median(), ends.Max(), joins.Median(), joins.Max(),
      ffplay.ok ? 1000 * ffplay.wall_seconds - 2000 : -1.0);
}

void RunOn(ServerKind kind, const std::string& program, const fs::path& folder) {
  test_support::SoundServer server(kind, test_support::GraphQuantum::kDesktop);
  if (!server.ok()) {
    std::printf("%s: the private server did not start\n", test_support::NameOf(kind).c_str());
    return;
  }
  server.SetClientEnvironment();
  const Sink sink{server, kind != ServerKind::kPulseAudioRenderingAhead, program};
  std::printf("%s:\n", test_support::NameOf(kind).c_str());
  if (sink.faithful) {
    OneShape(sink, folder / "album");
    TwoShapes(sink, folder / "shapes");
    FfplayOneAfterTheOther(sink, folder / "shapes");
    SlowStorageJoins(server, program, folder / "slow");
  } else {
    RenderingAheadTimings(server, program, folder / "stress");
  }
  // A faithful sink renders ahead unless a short recorder is attached.
  if (sink.faithful) {
    server.StartRecording();
  }
  EndsFound();
  if (sink.faithful) {
    server.StopRecording();
  }
  fs::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  unsetenv("SDL_AUDIODRIVER");
  const std::string program =
      fs::canonical("/proc/self/exe").parent_path().parent_path() / "brevalo";
  const fs::path folder = fs::temp_directory_path() / ("join-bench-" + std::to_string(getpid()));
  const std::string only = argc > 1 ? argv[1] : "";
  for (ServerKind kind : {ServerKind::kPulseAudio, ServerKind::kPipeWire,
                          ServerKind::kPipeWireNative, ServerKind::kPulseAudioRenderingAhead}) {
    if (only.empty() || only == test_support::NameOf(kind)) {
      RunOn(kind, program, folder);
    }
  }
  if (only.empty() || only == "Keys") {
    KeysDuringARead(program, folder);
    fs::remove_all(folder);
  }
  return 0;
}
