// A long series of sound-server restarts under the program, then the same series with no player
// connected, on a private server (the tests' own): every daemon sent SIGTERM (PipeWire's all at
// once, or the Pulse service and the session manager before the graph, as systemd stops them),
// 3 s away, started again 0.3 s apart. Either at the moments in turn (the first second of a
// stream, well in, paused, at a join, at a track's end) under an album, or under one long track,
// 1.4 to 2.3 s after the sound came back. For each restart: how soon another client's
// `pactl info` and `pw-cli info 0` answered, how soon the sound came back, and where the track
// went on from, against the frame after the last one heard. Through PipeWire's own protocol also
// what the program's lost stream last reported, and what a recorder started only once the sound
// was back makes of the resume.
//
// Run: build/bench/restart_soak [restarts [kind [album|track [alternate|at-once|systemd]]]]
//      kind: PipeWireNative (the default), PipeWire (its Pulse service) or PulseAudio;
//      50 restarts under the album, the daemons stopped each way in turn, by default.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/restart_series.h"
#include "tests/support/sound_server.h"

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

std::string Milliseconds(double seconds, const char* otherwise) {
  return seconds < 0 ? otherwise : std::to_string(static_cast<int>(seconds * 1000)) + " ms";
}

std::string Frames(const std::optional<int64_t>& frames) {
  if (!frames.has_value()) {
    return "-";
  }
  char text[48];
  std::snprintf(text, sizeof text, "%+ld (%+.1f ms)", static_cast<long>(*frames),
                static_cast<double>(*frames) / 44.1);
  return text;
}

std::string Frame(const std::optional<int64_t>& frame) {
  return frame.has_value() ? std::to_string(*frame) : "-";
}

void PrintRestart(size_t index, const RestartOutcome& restart) {
  const test_support::ResumeSeen& seen = restart.seen;
  std::printf("%3zu %-16s %-15s answered %s, sound back %s; heard to %s, from %s: resumed %s",
              index + 1, test_support::NameOf(restart.moment).c_str(),
              test_support::NameOf(restart.stop).c_str(),
              Milliseconds(restart.answered_after, "NEVER").c_str(),
              Milliseconds(restart.sound_back_after, "-").c_str(), Frame(seen.last_heard).c_str(),
              Frame(seen.first_heard).c_str(), Frames(seen.resumed_after).c_str());
  if (restart.went_on_from.has_value()) {
    // Against the first frame the program gave the graph after the restart: the frame after the
    // last one heard, and the first one heard after.
    const auto from = [&restart](const std::optional<int64_t>& frame) {
      return frame.has_value() ? std::optional(*frame - *restart.went_on_from) : std::nullopt;
    };
    std::printf("; gave the graph %ld first: next unheard frame %s, first heard %s",
                static_cast<long>(*restart.went_on_from),
                Frames(from(seen.last_heard.has_value() ? std::optional(*seen.last_heard + 1)
                                                        : std::nullopt))
                    .c_str(),
                Frames(from(seen.first_heard)).c_str());
  }
  if (seen.late_recorder_after.has_value()) {
    std::printf("; recorder started late: %s", Frames(seen.late_recorder_after).c_str());
  }
  if (restart.loss.has_value()) {
    const test_support::StreamReport& loss = *restart.loss;
    std::printf(
        "; last report %.1f ms after the stop began, written %lu, heard %lu, last buffer %lu, "
        "queued %lu, delay %ld; clock %lu",
        static_cast<double>(loss.cycle_ns - restart.stop_ns) / 1e6,
        static_cast<unsigned long>(loss.written), static_cast<unsigned long>(loss.heard),
        static_cast<unsigned long>(loss.last), static_cast<unsigned long>(loss.queued),
        static_cast<long>(loss.delay), static_cast<unsigned long>(loss.clock));
  }
  std::printf("\n");
}

void PrintSummary(const char* title, const RestartSeriesReport& report) {
  int unanswered = 0;
  int late_or_silent = 0;
  int twice = 0;
  int skipped = 0;
  double slowest_answer = 0;
  std::vector<double> backs;
  std::vector<int64_t> resumes;
  std::vector<int64_t> late_recorder;
  for (const RestartOutcome& restart : report.restarts) {
    unanswered += restart.answered_after < 0 ? 1 : 0;
    slowest_answer = std::max(slowest_answer, restart.answered_after);
    if (restart.sound_back_after >= 0) {
      backs.push_back(restart.sound_back_after);
    }
    late_or_silent += restart.sound_back_after < 0 || restart.sound_back_after > 1 ? 1 : 0;
    if (restart.seen.resumed_after.has_value()) {
      resumes.push_back(*restart.seen.resumed_after);
      twice += *restart.seen.resumed_after < 0 ? 1 : 0;
      skipped += *restart.seen.resumed_after > 0 ? 1 : 0;
    }
    if (restart.seen.late_recorder_after.has_value()) {
      late_recorder.push_back(*restart.seen.late_recorder_after);
    }
  }
  std::sort(backs.begin(), backs.end());
  std::sort(resumes.begin(), resumes.end());
  std::sort(late_recorder.begin(), late_recorder.end());
  std::printf("%s: %zu restarts; another client unanswered: %d (slowest answer %.0f ms)", title,
              report.restarts.size(), unanswered, slowest_answer * 1000);
  if (!backs.empty()) {
    std::printf("; sound back median %.0f ms, max %.0f ms, later than 1 s or never: %d",
                backs[backs.size() / 2] * 1000, backs.back() * 1000, late_or_silent);
  }
  if (!resumes.empty()) {
    std::printf(
        "; resumes from %ld to %ld frames (%.1f to %.1f ms), exact %zu, heard twice %d, "
        "skipped %d",
        static_cast<long>(resumes.front()), static_cast<long>(resumes.back()),
        static_cast<double>(resumes.front()) / 44.1, static_cast<double>(resumes.back()) / 44.1,
        resumes.size() - static_cast<size_t>(twice + skipped), twice, skipped);
  }
  int given = 0;
  int given_exact = 0;
  int given_early = 0;
  int given_late = 0;
  for (const RestartOutcome& restart : report.restarts) {
    if (restart.went_on_from.has_value() && restart.seen.last_heard.has_value()) {
      const int64_t from = *restart.went_on_from - (*restart.seen.last_heard + 1);
      ++given;
      given_exact += from == 0 ? 1 : 0;
      given_early += from < 0 ? 1 : 0;
      given_late += from > 0 ? 1 : 0;
    }
  }
  if (given > 0) {
    std::printf(
        "; by the first frame it gave the graph, of %d: the next unheard %d, earlier %d, later %d",
        given, given_exact, given_early, given_late);
  }
  if (!late_recorder.empty()) {
    std::printf("; a recorder started once the sound was back shows %.1f to %.1f ms skipped",
                static_cast<double>(late_recorder.front()) / 44.1,
                static_cast<double>(late_recorder.back()) / 44.1);
  }
  if (!resumes.empty()) {
    std::printf("; jumps while playing: %zu", report.jumps_while_playing.size());
  }
  std::printf("%s%s\n", report.failure.empty() ? "" : "; STOPPED: ", report.failure.c_str());
}

RestartSeriesReport Run(ServerKind kind, test_support::RestartSeriesOptions options,
                        bool with_player) {
  test_support::SoundServer server(kind, test_support::GraphQuantum::kDesktop);
  if (!server.ok()) {
    RestartSeriesReport report;
    report.failure = "the private sound server did not start";
    return report;
  }
  options.with_player = with_player;
  return test_support::RunRestartSeries(server, options);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  test_support::RestartSeriesOptions options;
  options.restarts = argc > 1 ? std::atoi(argv[1]) : 50;
  const ServerKind kind = KindNamed(argc > 2 ? argv[2] : "PipeWireNative");
  const std::string plan = argc > 3 ? argv[3] : "album";
  const std::string stop = argc > 4 ? argv[4] : "alternate";
  options.plan = plan == "track" ? test_support::RestartPlan::kOneTrackPlaying
                                 : test_support::RestartPlan::kAlbumAtEachMoment;
  if (stop == "at-once") {
    options.stop = test_support::DaemonStop::kAllAtOnce;
  } else if (stop == "systemd") {
    options.stop = test_support::DaemonStop::kAsSystemdDoes;
  }
  std::printf(
      "%d restarts through %s under %s, 3 s away each, the daemons stopped %s\n", options.restarts,
      test_support::NameOf(kind).c_str(),
      plan == "track" ? "one long track" : "the album at each moment",
      options.stop.has_value() ? test_support::NameOf(*options.stop).c_str() : "each way in turn");
  const RestartSeriesReport played = Run(kind, options, true);
  for (size_t i = 0; i < played.restarts.size(); ++i) {
    PrintRestart(i, played.restarts[i]);
  }
  const RestartSeriesReport alone = Run(kind, options, false);
  PrintSummary("with the program playing", played);
  PrintSummary("with no player", alone);
  return played.failure.empty() && alone.failure.empty() ? 0 : 1;
}
