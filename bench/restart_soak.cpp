// A long series of sound-server restarts under the program, then the same series with no player
// connected, on a private server (the tests' own): every daemon sent SIGTERM, 3 s away, started
// again 0.3 s apart, at the moments in turn (the first second of a stream, well in, paused, at a
// join, at a track's end). For each restart: how soon another client's `pactl info` and
// `pw-cli info 0` answered, how soon the sound came back, and where the album went on from,
// against the frame after the last one heard.
//
// Run: build/bench/restart_soak [restarts [PipeWireNative|PipeWire|PulseAudio]]
//      (50 restarts through PipeWire's own protocol by default)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/restart_series.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"

namespace {

using test_support::RestartOutcome;
using test_support::RestartSeriesReport;
using test_support::ServerKind;

ServerKind KindNamed(const std::string& name) {
  for (ServerKind kind :
       {ServerKind::kPulseAudio, ServerKind::kPipeWire, ServerKind::kPipeWireNative}) {
    if (test_support::NameOf(kind) == name) {
      return kind;
    }
  }
  return ServerKind::kPipeWireNative;
}

void PrintRestart(size_t index, const RestartOutcome& restart) {
  std::printf(
      "%3zu %-16s answered %s, sound back %s, resumed %s\n", index + 1,
      test_support::NameOf(restart.moment).c_str(),
      restart.answered_after < 0
          ? "NEVER (1 s)"
          : (std::to_string(static_cast<int>(restart.answered_after * 1000)) + " ms").c_str(),
      restart.sound_back_after < 0
          ? "-"
          : (std::to_string(static_cast<int>(restart.sound_back_after * 1000)) + " ms").c_str(),
      restart.resumed_after.has_value()
          ? (std::to_string(*restart.resumed_after) + " frames").c_str()
          : "-");
}

void PrintSummary(const char* title, const RestartSeriesReport& report) {
  int unanswered = 0;
  int late_or_silent = 0;
  int twice = 0;
  double slowest_answer = 0;
  std::vector<double> backs;
  std::vector<int64_t> resumes;
  for (const RestartOutcome& restart : report.restarts) {
    unanswered += restart.answered_after < 0 ? 1 : 0;
    slowest_answer = std::max(slowest_answer, restart.answered_after);
    if (restart.sound_back_after >= 0) {
      backs.push_back(restart.sound_back_after);
    }
    late_or_silent += restart.sound_back_after < 0 || restart.sound_back_after > 1 ? 1 : 0;
    if (restart.resumed_after.has_value()) {
      resumes.push_back(*restart.resumed_after);
      twice += *restart.resumed_after < 0 ? 1 : 0;
    }
  }
  std::sort(backs.begin(), backs.end());
  std::sort(resumes.begin(), resumes.end());
  std::printf("%s: %zu restarts; another client unanswered within 1 s: %d (slowest answer %.0f ms)",
              title, report.restarts.size(), unanswered, slowest_answer * 1000);
  if (!backs.empty()) {
    std::printf("; sound back median %.0f ms, max %.0f ms, later than 1 s or never: %d",
                backs[backs.size() / 2] * 1000, backs.back() * 1000, late_or_silent);
  }
  if (!resumes.empty()) {
    std::printf("; resumes from %ld to %ld frames (%.1f to %.1f ms), heard twice: %d",
                static_cast<long>(resumes.front()), static_cast<long>(resumes.back()),
                static_cast<double>(resumes.front()) / 44.1,
                static_cast<double>(resumes.back()) / 44.1, twice);
    std::printf("; jumps while playing: %zu", report.jumps_while_playing.size());
  }
  std::printf("%s%s\n", report.failure.empty() ? "" : "; STOPPED: ", report.failure.c_str());
}

RestartSeriesReport Run(ServerKind kind, int restarts, bool with_player) {
  test_support::SoundServer server(kind);
  if (!server.ok()) {
    RestartSeriesReport report;
    report.failure = "the private sound server did not start";
    return report;
  }
  test_support::TempDir album;
  test_support::WriteRestartAlbum(album.path());
  test_support::RestartSeriesOptions options;
  options.restarts = restarts;
  options.with_player = with_player;
  return test_support::RunRestartSeries(server, album.path(), options);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int restarts = argc > 1 ? std::atoi(argv[1]) : 50;
  const ServerKind kind = KindNamed(argc > 2 ? argv[2] : "PipeWireNative");
  std::printf("%d restarts through %s, 3 s away each\n", restarts,
              test_support::NameOf(kind).c_str());
  const RestartSeriesReport played = Run(kind, restarts, true);
  for (size_t i = 0; i < played.restarts.size(); ++i) {
    PrintRestart(i, played.restarts[i]);
  }
  const RestartSeriesReport alone = Run(kind, restarts, false);
  PrintSummary("with the program playing", played);
  PrintSummary("with no player", alone);
  return played.failure.empty() && alone.failure.empty() ? 0 : 1;
}
