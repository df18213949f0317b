// The desktop's sound server restarted under the program, as a session's service manager does
// it, and stopped outright (a hung daemon): the program must never hold the server up for
// other clients, must come back once the server does, and must go on from where the sound
// stopped, whatever it was doing at the time.

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/restart_series.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace {

using test_support::RestartOutcome;
using test_support::ServerKind;

// The frames of the graph's quantum on the tests' PipeWire: its recorders ask for 23 ms, and the
// graph runs at the power of two at or below the shortest latency asked for.
constexpr int64_t kGraphQuantum = 512;
// The graph's largest quantum: what it may miss while its nodes change or the machine is busy.
constexpr int64_t kLargestQuantum = 2048;

// How far from the frame after the last one heard a resume may start, in frames.
struct ResumeBounds {
  int64_t earliest;
  int64_t latest;
};

// PipeWire: a stream's clock counts the buffer the graph took last only once the next cycle
// has begun, since nothing tells it whether the server mixed that buffer before taking the
// stream out; so that quantum may be heard twice, and no more. Nothing may be skipped, but the
// recorders may miss cycles the sink played as the program's new stream joins the graph (one
// recorder has missed what another heard), as they miss cycles while playing on a busy machine:
// the same allowance as for those. PulseAudio closes the connection as it takes the stream off
// its sink, and its recorder ends with it; the stream's clock, run on to the moment the
// connection closed, is where the sound stopped, to within how far the sink renders ahead of its
// clock (the recorder's fragment), and 10 ms more while the machine is busy and the clock's
// readings come late.
ResumeBounds Bounds(const test_support::SoundServer& server) {
  if (test_support::IsPipeWire(server.kind())) {
    return {-kGraphQuantum, kLargestQuantum};
  }
  const int64_t slack = (server.EndRecorderFragment().count() + 10) * 44100 / 1000;
  return {-slack, slack};
}

class ServerTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TMUX();
    SKIP_WITHOUT_SOUND_SERVER(GetParam());
    ASSERT_TRUE(server_.ok()) << "the private sound server did not start:\n" << server_.Logs();
    ASSERT_TRUE(test_support::WriteRestartAlbum(album_.path()));
  }

  test_support::SoundServer server_{GetParam()};
  test_support::TempDir album_;
};

// Through PulseAudio and PipeWire's own protocol. (PipeWire's Pulse service, where a client
// that reconnects at the wrong moment can hold the service up for every other one, has the
// restarts of the engine's own test, whose track has no join.)
class ServerRestartTest : public ServerTest {};

TEST_P(ServerRestartTest, TenRestartsAtEachMomentWedgeNothingAndResumeWhereTheSoundStopped) {
  test_support::RestartSeriesOptions options;
  // Far longer than an answer takes on a busy machine; a wedged server never answers.
  options.patience = std::chrono::seconds(5);
  const test_support::RestartSeriesReport report = test_support::RunRestartSeries(server_, options);
  ASSERT_EQ(report.failure, "");
  ASSERT_EQ(report.restarts.size(), 10u);
  const ResumeBounds bounds = Bounds(server_);
  for (size_t i = 0; i < report.restarts.size(); ++i) {
    const RestartOutcome& restart = report.restarts[i];
    SCOPED_TRACE("restart " + std::to_string(i + 1) + ", " + test_support::NameOf(restart.moment) +
                 ", daemons stopped " + test_support::NameOf(restart.stop));
    EXPECT_GE(restart.answered_after, 0) << "another client got no answer";
    EXPECT_GE(restart.sound_back_after, 0) << "the sound never came back";
    ASSERT_TRUE(restart.seen.resumed_after.has_value()) << "nothing heard on one side of it";
    EXPECT_GE(*restart.seen.resumed_after, bounds.earliest) << "frames heard twice";
    EXPECT_LE(*restart.seen.resumed_after, bounds.latest) << "frames skipped";
  }
  // On a busy machine the graph may miss a cycle, its recorder's or the stream's: a gap of up to
  // its largest quantum. The player's own skips would be whole buffers, and it never repeats.
  for (const int64_t jump : report.jumps_while_playing) {
    EXPECT_TRUE(jump > 0 && jump <= kLargestQuantum)
        << "a jump of " << jump << " frames while playing";
  }
}

// Stopped, the daemons keep their connections and answer nothing; the program must still quit
// at once, and leave nothing behind it on the server once it answers again.
class HungServerTest : public ServerTest {};

TEST_P(HungServerTest, EscapeQuitsWhileTheServerHangs) {
  server_.StartRecording();
  test_support::TmuxSession session(
      test_support::ProgramPath() + " '" + (album_.path() / "1.wav").string() + "'",
      server_.ClientEnvironment());
  ASSERT_TRUE(session.WaitFor("Now playing"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  for (const pid_t pid : server_.daemon_pids()) {
    kill(pid, SIGSTOP);
  }
  session.SendKeys({"Escape"});
  // Far longer than a quit takes, even on a busy machine; a wait for the server would never end:
  // it answers only once continued, after this.
  const std::optional<int> status = session.WaitForExit(std::chrono::seconds(10));
  for (const pid_t pid : server_.daemon_pids()) {
    kill(pid, SIGCONT);
  }
  EXPECT_EQ(status, 0) << "the program waited for the hung server";
  EXPECT_TRUE(test_support::PollUntil([this] {
    return server_.SinkInputs().find("Brevalo") == std::string::npos;
  })) << server_.SinkInputs();
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerRestartTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);
INSTANTIATE_TEST_SUITE_P(Servers, HungServerTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);

}  // namespace
