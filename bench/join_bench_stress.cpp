#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/bench_process.h"
#include "bench/join_bench_parts.h"
#include "bench/pty_program.h"
#include "tests/support/album.h"
#include "tests/support/media.h"
#include "tests/support/tmux.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

constexpr double kTrackSeconds = 2.0;
constexpr int kRuns = 3;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The elapsed time at the left of the progress row.
std::string Elapsed(test_support::TmuxSession& session) {
  const std::vector<std::string> rows = session.Screen();
  return rows.size() > 3 ? rows[3].substr(0, 12) : "";
}

test_support::TmuxSession* Play(test_support::SoundServer& server, const std::string& program,
                                const fs::path& track) {
  return new test_support::TmuxSession(program + " " + test_support::ShellQuoted(track.string()),
                                       server.ClientEnvironment(), 200, 24);
}

// Seconds from the first title to the next, less the first track's length; -1 when it never
// showed.
double NextTitleLate(test_support::SoundServer& server, const std::string& program,
                     const fs::path& folder) {
  std::unique_ptr<test_support::TmuxSession> session(Play(server, program, folder / "1.wav"));
  if (!test_support::WaitForNowPlaying(*session, "1.wav")) {
    return -1;
  }
  const auto start = Clock::now();
  if (!test_support::WaitForNowPlaying(*session, "2.wav", seconds(15))) {
    return -1;
  }
  const double late = Since(start) - kTrackSeconds;
  session->SendKeys({"Escape"});
  session->WaitForExit();
  return late;
}

// The path of `name` on PATH, or `name` itself.
std::string OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    end = end == std::string::npos ? folders.size() : end;
    const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
    start = end + 1;
  }
  return name;
}

// The same for mpv, from its "Playing:" lines.
double MpvNextTitleLate(test_support::SoundServer& server, const fs::path& folder) {
  const std::string first = (folder / "1.wav").string();
  const std::string second = (folder / "2.wav").string();
  PtyProgram mpv({OnPath("mpv"), "--no-config", "--no-video", "--ao=pulse", first, second},
                 {{"PULSE_SERVER", server.address()}});
  if (!mpv.ReadFor(seconds(10), "Playing: " + first)) {
    return -1;
  }
  const auto start = Clock::now();
  if (!mpv.ReadFor(seconds(15), "Playing: " + second)) {
    return -1;
  }
  const double late = Since(start) - kTrackSeconds;
  mpv.WaitForExit(seconds(15));
  return late;
}

// Seconds from the moment the elapsed time gives way to "--:--" (the end found) to the moment
// the server lists the stream as corked; -1 when it never is.
double CorkedAfterTheEnd(test_support::SoundServer& server, const std::string& program,
                         const fs::path& folder) {
  std::unique_ptr<test_support::TmuxSession> session(Play(server, program, folder / "alone.wav"));
  if (!test_support::PollUntil([&] { return Elapsed(*session).find("--:--") != std::string::npos; },
                               seconds(15))) {
    return -1;
  }
  const auto start = Clock::now();
  if (!test_support::PollUntil(
          [&] { return server.SinkInputs().find("Corked: yes") != std::string::npos; },
          seconds(15))) {
    return -1;
  }
  const double corked = Since(start);
  session->SendKeys({"Escape"});
  session->WaitForExit();
  return corked;
}

}  // namespace

void RenderingAheadTimings(test_support::SoundServer& server, const std::string& program,
                           const fs::path& folder) {
  const fs::path pair = folder / "pair";
  const fs::path alone = folder / "alone";
  fs::create_directories(pair);
  fs::create_directories(alone);
  const std::string track =
      test_support::MakeMedia(test_support::Recipe(test_support::MediaFormat::kWav, kTrackSeconds));
  fs::copy_file(track, pair / "1.wav");
  fs::copy_file(track, pair / "2.wav");
  fs::copy_file(track, alone / "alone.wav");
  Spread brevalo;
  Spread mpv;
  Spread corked;
  for (int run = 0; run < kRuns; ++run) {
    brevalo.Add(NextTitleLate(server, program, pair));
    mpv.Add(MpvNextTitleLate(server, pair));
    corked.Add(CorkedAfterTheEnd(server, program, alone));
  }
  std::printf(
      "  the next title, after a 2.00 s track's length (%d runs, -1: never): Brevalo %.2f s "
      "(max %.2f), mpv %.2f s (max %.2f)\n"
      "  a track with nothing after it: corked %.2f s after its end was found (max %.2f)\n",
      kRuns, brevalo.Median(), brevalo.Max(), mpv.Median(), mpv.Max(), corked.Median(),
      corked.Max());
}
