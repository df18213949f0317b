#include "tests/support/restart_series.h"

#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "tests/support/counting_track.h"
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

// How long each moment waits from the return (or the start) before the restart comes: 0.4,
// 1.3, 0.8 and 0.6 s, the pace at which a desktop's server was found held up, at the moments in
// turn.
struct Step {
  RestartMoment moment;
  milliseconds after;
};
constexpr Step kSteps[] = {
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

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A jump from `from` to `to` in the album's count, which goes round: positive forward.
int64_t Jump(int64_t from, int64_t to) {
  int64_t jump = ((to - from) % kAlbumFrames + kAlbumFrames) % kAlbumFrames;
  return jump >= kAlbumFrames / 2 ? jump - kAlbumFrames : jump;
}

// The album's frames in a recording, silence and the mono track left out, in order.
std::vector<int64_t> CountedFrames(const std::vector<int16_t>& samples) {
  std::vector<int64_t> frames;
  for (size_t i = 0; i + 1 < samples.size(); i += 2) {
    if (IsCountedFrame(samples[i], samples[i + 1])) {
      frames.push_back(CountedFrame(samples[i], samples[i + 1]) % kAlbumFrames);
    }
  }
  return frames;
}

std::optional<int64_t> LastCountedFrame(const std::vector<int16_t>& samples) {
  for (size_t i = samples.size() & ~size_t{1}; i >= 2; i -= 2) {
    if (IsCountedFrame(samples[i - 2], samples[i - 1])) {
      return CountedFrame(samples[i - 2], samples[i - 1]) % kAlbumFrames;
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
        const std::optional<int64_t> frame = LastCountedFrame(server.RecordedSoFar());
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

// What the recording of each server holds, taken apart once the series is over.
void Judge(const std::vector<std::vector<int16_t>>& stretches, RestartSeriesReport& report) {
  std::optional<int64_t> last;
  for (size_t i = 0; i < stretches.size(); ++i) {
    const std::vector<int64_t> frames = CountedFrames(stretches[i]);
    if (frames.empty()) {
      continue;
    }
    if (last.has_value() && i > 0 && i - 1 < report.restarts.size()) {
      report.restarts[i - 1].resumed_after = Jump(*last + 1, frames.front());
    }
    for (size_t at = 1; at < frames.size(); ++at) {
      if (Jump(frames[at - 1] + 1, frames[at]) != 0) {
        report.jumps_while_playing.push_back(Jump(frames[at - 1] + 1, frames[at]));
      }
    }
    last = frames.back();
  }
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

bool WriteRestartAlbum(const std::filesystem::path& folder) {
  for (int64_t track = 0; track < kCountedTracks; ++track) {
    if (!WriteCountingTrack(folder / (std::to_string(track + 1) + ".wav"), kTrackFrames,
                            track * kTrackFrames)) {
      return false;
    }
  }
  return WriteMarkerTrack(folder / "4 mono.wav", kMarkerFrames);
}

RestartSeriesReport RunRestartSeries(SoundServer& server, const std::filesystem::path& folder,
                                     const RestartSeriesOptions& options) {
  RestartSeriesReport report;
  server.StopRecording();
  if (!server.StartRecordingToTheEnd()) {
    report.failure = "the recorder did not start";
    return report;
  }
  std::unique_ptr<TmuxSession> player;
  if (options.with_player) {
    player = std::make_unique<TmuxSession>(ProgramPath() + " '" + (folder / "1.wav").string() + "'",
                                           server.ClientEnvironment(), 120, 24);
  }
  const auto heard = [&server] { return LastCountedFrame(server.RecordedSoFar()).has_value(); };
  if (player != nullptr && !PollFor(heard, milliseconds(10000))) {
    report.failure = "the album was never heard";
    return report;
  }
  std::vector<std::vector<int16_t>> stretches;
  for (int i = 0; i < options.restarts && report.failure.empty(); ++i) {
    const Step& step = kSteps[static_cast<size_t>(i) % std::size(kSteps)];
    RestartOutcome outcome;
    outcome.moment = step.moment;
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
    stretches.push_back(server.StopDaemonsUnderRecording());
    std::this_thread::sleep_for(options.away);
    if (!server.StartDaemonsUnderRecording(milliseconds(300))) {
      report.failure = "the server did not start again:\n" + server.Logs();
      break;
    }
    auto back = Clock::now();
    // Asked while the sound comes back, as a volume control would ask.
    std::future<double> answered = std::async(std::launch::async, [&server, back] {
      return server.Answers(milliseconds(1000)) ? SecondsSince(back) : -1.0;
    });
    if (paused) {
      std::this_thread::sleep_for(milliseconds(300));
      player->SendKeys({"Space"});
      back = Clock::now();
    }
    if (player != nullptr && PollFor(heard, milliseconds(5000))) {
      outcome.sound_back_after = SecondsSince(back);
    }
    outcome.answered_after = answered.get();
    report.restarts.push_back(outcome);
  }
  if (player != nullptr) {
    player->SendKeys({"Escape"});
    player->WaitForExit();
  }
  stretches.push_back(server.StopRecording());
  Judge(stretches, report);
  return report;
}

}  // namespace test_support
