#include "tests/support/restart_series.h"

#include <csignal>
#include <ctime>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include <sys/wait.h>

#include "tests/support/album.h"
#include "tests/support/counting_track.h"
#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace test_support {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int64_t kRate = 44100;
constexpr int64_t kTrackFrames = 2 * kRate;
constexpr int64_t kCountedTracks = 3;
constexpr int64_t kAlbumFrames = kCountedTracks * kTrackFrames;
constexpr int64_t kMarkerFrames = kRate / 2;

// How long each restart waits from the return (or the start) before it comes.
struct Step {
  RestartMoment moment;
  milliseconds after;
};
// 0.4, 1.3, 0.8 and 0.6 s: the pace at which a desktop's server was found held up, at the
// moments in turn.
constexpr Step kAlbumSteps[] = {
    {RestartMoment::kFirstSecond, milliseconds(400)},
    {RestartMoment::kWellIn, milliseconds(1300)},
    {RestartMoment::kPaused, milliseconds(800)},
    {RestartMoment::kAtAJoin, milliseconds(0)},
    {RestartMoment::kFirstSecond, milliseconds(800)},
    {RestartMoment::kAtATracksEnd, milliseconds(0)},
    {RestartMoment::kFirstSecond, milliseconds(600)},
    {RestartMoment::kWellIn, milliseconds(1300)},
    {RestartMoment::kAtAJoin, milliseconds(0)},
    {RestartMoment::kPaused, milliseconds(400)},
};
// A second after the sound came back, then the same paces.
constexpr Step kTrackSteps[] = {
    {RestartMoment::kWellIn, milliseconds(1400)},
    {RestartMoment::kWellIn, milliseconds(2300)},
    {RestartMoment::kWellIn, milliseconds(1800)},
    {RestartMoment::kWellIn, milliseconds(1600)},
};

// Patience for what only a wedged server or a dead recorder would never do.
constexpr milliseconds kGenerous(10000);

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

std::optional<int64_t> LastCountedFrame(const std::vector<int16_t>& samples, int64_t count_frames) {
  for (size_t i = samples.size() & ~size_t{1}; i >= 2; i -= 2) {
    if (IsCountedFrame(samples[i - 2], samples[i - 1])) {
      return CountedFrame(samples[i - 2], samples[i - 1]) % count_frames;
    }
  }
  return std::nullopt;
}

bool PollFor(const std::function<bool()>& done, milliseconds patience) {
  const auto deadline = Clock::now() + patience;
  while (!done()) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

// Waits until the recording stands in the last 0.4 s to 0.1 s before the end of a track:
// one followed by the next of the same format for a join, or the last counted one.
bool AwaitTheEndOfATrack(const SoundServer& server, bool join) {
  return PollFor(
      [&server, join] {
        const std::optional<int64_t> frame = LastCountedFrame(server.RecordedSoFar(), kAlbumFrames);
        if (!frame.has_value()) {
          return false;
        }
        const int64_t track = *frame / kTrackFrames;
        const int64_t left = (track + 1) * kTrackFrames - *frame;
        const bool wanted = join ? track + 1 < kCountedTracks : track + 1 == kCountedTracks;
        return wanted && left > kRate / 10 && left <= kRate * 2 / 5;
      },
      milliseconds(15000));
}

std::string EnvironmentValue(const SoundServer& server, const std::string& name) {
  for (const std::string& variable : server.environment()) {
    if (variable.rfind(name + "=", 0) == 0) {
      return variable.substr(name.size() + 1);
    }
  }
  return "";
}

// pw-record on the null sink's monitor, as the tests' server records it, into a file of its own.
// It ends by itself once the server has gone.
class SinkRecorder {
 public:
  // With `when_the_graph_is_up`, a shell waits for the graph's socket before it starts the
  // recorder: started before the server, it waits there when the session manager starts linking.
  SinkRecorder(const SoundServer& server, std::filesystem::path file, bool when_the_graph_is_up)
      : file_(std::move(file)) {
    const std::string latency = std::to_string(server.EndRecorderFragment().count()) + "ms";
    const std::string socket = EnvironmentValue(server, "PIPEWIRE_RUNTIME_DIR") + "/pipewire-0";
    std::vector<std::string> arguments = {
        "pw-record", "--target",  "nullsink",   "-P", "{ stream.capture.sink=true }",
        "--rate",    "44100",     "--channels", "2",  "--format",
        "s16",       "--latency", latency,      "-"};
    if (when_the_graph_is_up) {
      arguments.insert(arguments.begin(), {"sh", "-c",
                                           "while [ ! -S \"$0\" ]; do sleep 0.01; done; "
                                           "exec \"$@\"",
                                           socket});
    }
    pid_ =
        SpawnProgram(arguments, server.environment(), file_.string(), file_.string() + ".errors");
  }
  ~SinkRecorder() { Stop(); }
  SinkRecorder(const SinkRecorder&) = delete;
  SinkRecorder& operator=(const SinkRecorder&) = delete;

  // Waits until the session manager has linked it: the sink's output reaches its file.
  bool AwaitLinked() const {
    return pid_ > 0 && PollFor(
                           [this] {
                             std::error_code error;
                             return std::filesystem::file_size(file_, error) > 0 && !error;
                           },
                           kGenerous);
  }

  // Once the server has gone: waits for the recorder to end with it, then what it recorded.
  std::vector<int16_t> Finish() {
    const auto deadline = Clock::now() + kGenerous;
    while (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(5));
    }
    return Stop();
  }

  // Ends the recorder if it runs; what it recorded.
  std::vector<int16_t> Stop() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGTERM);
      WaitForProgram(pid_);
    }
    pid_ = -1;
    return SamplesOf(ReadFile(file_));
  }

 private:
  std::filesystem::path file_;
  pid_t pid_ = -1;
};

// The count of kOneTrackPlaying: long enough for `restarts`, at most 2.3 s each and the time the
// sound takes to come back.
int64_t TrackFrames(int restarts) { return (12 + 3 * int64_t{restarts}) * kRate; }

// Writes the track of kOneTrackPlaying into `folder`; its path, or empty.
std::string WriteRestartTrack(const std::filesystem::path& folder, int64_t frames) {
  const std::filesystem::path wav = folder / "count.wav";
  const std::filesystem::path flac = folder / "count.flac";
  if (!WriteCountingTrack(wav, frames) ||
      RunProgram({"ffmpeg", "-loglevel", "error", "-y", "-i", wav.string(), flac.string()}) != 0) {
    return "";
  }
  std::filesystem::remove(wav);
  return flac.string();
}

// The first loss in the program's log after `from_ns` and before `until_ns`.
std::optional<StreamReport> LossBetween(const std::vector<StreamReport>& reports, int64_t from_ns,
                                        std::optional<int64_t> until_ns) {
  for (const StreamReport& report : reports) {
    if (report.lost && report.ended_ns >= from_ns &&
        (!until_ns.has_value() || report.ended_ns < *until_ns)) {
      return report;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string NameOf(RestartMoment moment) {
  switch (moment) {
    case RestartMoment::kFirstSecond:
      return "first second";
    case RestartMoment::kWellIn:
      return "well in";
    case RestartMoment::kPaused:
      return "paused";
    case RestartMoment::kAtAJoin:
      return "at a join";
    case RestartMoment::kAtATracksEnd:
      return "at a track's end";
  }
  return "";
}

std::string NameOf(DaemonStop stop) {
  return stop == DaemonStop::kAllAtOnce ? "all at once" : "as systemd does";
}

int64_t CountFrames(RestartPlan plan, int restarts) {
  return plan == RestartPlan::kAlbumAtEachMoment ? kAlbumFrames : TrackFrames(restarts);
}

bool WriteRestartAlbum(const std::filesystem::path& folder) {
  for (int64_t track = 0; track < kCountedTracks; ++track) {
    if (!WriteCountingTrack(folder / (std::to_string(track + 1) + ".wav"), kTrackFrames,
                            track * kTrackFrames)) {
      return false;
    }
  }
  return WriteMarkerTrack(folder / "4 mono.wav", kMarkerFrames);
}

RestartSeriesReport RunRestartSeries(SoundServer& server, const RestartSeriesOptions& options) {
  RestartSeriesReport report;
  TempDir work;
  const std::filesystem::path music = work.path() / "music";
  std::filesystem::create_directories(music);
  const bool album = options.plan == RestartPlan::kAlbumAtEachMoment;
  const int64_t count_frames = CountFrames(options.plan, options.restarts);
  const std::string first_track = album
                                      ? (WriteRestartAlbum(music) ? (music / "1.wav").string() : "")
                                      : WriteRestartTrack(music, count_frames);
  if (first_track.empty()) {
    report.failure = "the tracks could not be written";
    return report;
  }
  const bool graph = IsPipeWire(server.kind());
  const bool more_recorders = graph && options.with_player;
  const auto recording_file = [&work](const std::string& name, size_t life) {
    return work.path() / (name + std::to_string(life) + ".raw");
  };
  std::vector<ServerLifeRecordings> lives(1);
  std::unique_ptr<SinkRecorder> early;
  std::unique_ptr<SinkRecorder> late;
  server.StopRecording();
  if (!server.StartRecordingToTheEnd()) {
    report.failure = "the recorder did not start";
    return report;
  }
  if (more_recorders) {
    early = std::make_unique<SinkRecorder>(server, recording_file("early", 0), false);
    if (!early->AwaitLinked()) {
      report.failure = "a second recorder did not start";
      return report;
    }
  }
  const std::filesystem::path program_log = work.path() / "pipewire.log";
  std::unique_ptr<TmuxSession> player;
  if (options.with_player) {
    std::map<std::string, std::string> environment = server.ClientEnvironment();
    environment["BREVALO_PIPEWIRE_LOG"] = program_log.string();
    player = std::make_unique<TmuxSession>(ProgramPath() + " " + ShellQuoted(first_track),
                                           environment, 120, 24);
  }
  const auto heard = [&server, count_frames] {
    return LastCountedFrame(server.RecordedSoFar(), count_frames).has_value();
  };
  // Started once the sound is back, it joins after the program's stream, and the server tears
  // it down after that stream.
  const auto start_late_recorder = [&] {
    late = std::make_unique<SinkRecorder>(server, recording_file("late", lives.size() - 1), false);
    if (!late->AwaitLinked()) {
      report.failure = "the recorder started once the sound was back did not start";
    }
  };
  if (player != nullptr) {
    if (!PollFor(heard, kGenerous)) {
      report.failure = "the track was never heard";
      return report;
    }
    if (more_recorders) {
      start_late_recorder();
    }
  }
  for (int i = 0; i < options.restarts && report.failure.empty(); ++i) {
    const Step& step = album ? kAlbumSteps[static_cast<size_t>(i) % std::size(kAlbumSteps)]
                             : kTrackSteps[static_cast<size_t>(i) % std::size(kTrackSteps)];
    RestartOutcome outcome;
    outcome.moment = step.moment;
    outcome.stop =
        options.stop.value_or(i % 2 == 0 ? DaemonStop::kAllAtOnce : DaemonStop::kAsSystemdDoes);
    const bool paused = player != nullptr && step.moment == RestartMoment::kPaused;
    if (paused) {
      player->SendKeys({"Space"});
    }
    std::this_thread::sleep_for(step.after);
    if (player != nullptr &&
        (step.moment == RestartMoment::kAtAJoin || step.moment == RestartMoment::kAtATracksEnd) &&
        !AwaitTheEndOfATrack(server, step.moment == RestartMoment::kAtAJoin)) {
      report.failure = "the album never reached the end of a track";
      break;
    }
    outcome.stop_ns = MonotonicNs();
    if (graph && outcome.stop == DaemonStop::kAllAtOnce) {
      // Before the server's own recorder is stopped: it would otherwise leave the graph first,
      // and the graph's other recorders may miss the cycle in which it does. The daemons are
      // this process's children, and their ids are not reused until StopDaemons reaps them.
      for (const pid_t pid : server.daemon_pids()) {
        kill(pid, SIGTERM);
      }
      server.StopDaemons();
    } else {
      server.StopDaemonsUnderRecording();
    }
    lives.back().before_the_player.push_back(server.RecordedSoFar());
    if (early != nullptr) {
      lives.back().before_the_player.push_back(early->Finish());
    }
    if (late != nullptr) {
      lives.back().after_the_sound = late->Finish();
    }
    late.reset();
    lives.emplace_back();
    std::this_thread::sleep_for(options.away);
    if (more_recorders) {
      early =
          std::make_unique<SinkRecorder>(server, recording_file("early", lives.size() - 1), true);
    }
    if (!server.StartDaemonsUnderRecording(milliseconds(300))) {
      report.failure = "the server did not start again:\n" + server.Logs();
      break;
    }
    auto back = Clock::now();
    // Asked while the sound comes back, as a volume control would ask.
    std::future<double> answered =
        std::async(std::launch::async, [&server, back, patience = options.patience] {
          return server.Answers(patience) ? SecondsSince(back) : -1.0;
        });
    if (paused) {
      std::this_thread::sleep_for(milliseconds(300));
      player->SendKeys({"Space"});
      back = Clock::now();
    }
    if (player != nullptr && PollFor(heard, kGenerous)) {
      outcome.sound_back_after = SecondsSince(back);
      if (more_recorders) {
        start_late_recorder();
      }
    }
    outcome.answered_after = answered.get();
    report.restarts.push_back(outcome);
  }
  if (player != nullptr) {
    player->SendKeys({"Escape"});
    player->WaitForExit();
  }
  lives.back().before_the_player.push_back(server.StopRecording());
  if (early != nullptr) {
    lives.back().before_the_player.push_back(early->Stop());
  }
  if (late != nullptr) {
    lives.back().after_the_sound = late->Stop();
  }
  const std::vector<ResumeSeen> seen =
      JudgeResumes(lives, count_frames, report.jumps_while_playing);
  const std::vector<StreamReport> streams = ReadStreamReports(program_log);
  for (size_t i = 0; i < report.restarts.size() && i < seen.size(); ++i) {
    RestartOutcome& restart = report.restarts[i];
    restart.seen = seen[i];
    restart.loss =
        LossBetween(streams, restart.stop_ns,
                    i + 1 < report.restarts.size() ? std::optional(report.restarts[i + 1].stop_ns)
                                                   : std::nullopt);
    restart.went_on_with = FirstStreamAfter(streams, restart.stop_ns);
    restart.went_on_from = restart.went_on_with.has_value()
                               ? FirstCountedFrame(*restart.went_on_with, count_frames)
                               : std::nullopt;
  }
  return report;
}

}  // namespace test_support
