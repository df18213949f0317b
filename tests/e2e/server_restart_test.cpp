// The desktop's sound server restarted under the program, as a session's service manager does
// it, and stopped outright (a hung daemon): the program must never hold the server up for
// other clients, must come back once the server does, and must go on from where the sound
// stopped, whatever it was doing at the time.

#include <chrono>
#include <csignal>
#include <optional>
#include <string>

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
// The frames of each of the player's buffers (audio/player.h): a buffer the player lost or played
// twice would make a jump of this much.
constexpr int64_t kPlayerBufferFrames = 32768;

// PipeWire, through its own protocol: from the frame after the last one heard to where the
// program went on, in frames. A stream's clock counts the buffer the graph took last only once
// the next cycle has begun, since nothing tells it whether the server mixed that buffer before
// taking the stream out: that quantum may be heard twice, and nothing may be skipped.
void ExpectWentOnFromTheLastFrameHeard(const RestartOutcome& restart) {
  ASSERT_TRUE(restart.went_on_with.has_value()) << "the program logged no stream after it";
  // A stream that went on with the mono track, whose frames do not count, places nothing.
  if (!restart.went_on_from.has_value()) {
    return;
  }
  ASSERT_TRUE(restart.seen.last_heard.has_value());
  const int64_t went_on = test_support::CountJump(
      *restart.seen.last_heard + 1, *restart.went_on_from,
      test_support::CountFrames(test_support::RestartPlan::kAlbumAtEachMoment));
  EXPECT_GE(went_on, -kGraphQuantum) << "more than the last quantum heard twice";
  EXPECT_LE(went_on, 0) << "frames skipped";
  // The recordings hear nothing of the track before where the program says it went on.
  ASSERT_TRUE(restart.seen.first_heard.has_value());
  EXPECT_GE(*restart.seen.first_heard - *restart.went_on_from, 0);
}

class ServerTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TMUX();
    SKIP_WITHOUT_SOUND_SERVER(GetParam());
    ASSERT_TRUE(server_.ok()) << "the private sound server did not start:\n" << server_.Logs();
    ASSERT_TRUE(test_support::WriteRestartAlbum(album_.path()));
  }

  // Resumes are judged in a desktop's quanta.
  test_support::SoundServer server_{GetParam(), test_support::GraphQuantum::kDesktop};
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
  const bool graph = test_support::IsPipeWire(server_.kind());
  // PulseAudio closes the connection as it takes the stream off its sink, and its recorder ends
  // with it: the stream's clock, run on to the moment the connection closed, is where the sound
  // stopped, to within how far the sink renders ahead of its clock (the recorder's fragment), and
  // 10 ms more while the machine is busy and the clock's readings come late.
  const int64_t pulse_slack = (server_.EndRecorderFragment().count() + 10) * 44100 / 1000;
  for (size_t i = 0; i < report.restarts.size(); ++i) {
    const RestartOutcome& restart = report.restarts[i];
    SCOPED_TRACE("restart " + std::to_string(i + 1) + ", " + test_support::NameOf(restart.moment) +
                 ", daemons stopped " + test_support::NameOf(restart.stop));
    EXPECT_GE(restart.answered_after, 0) << "another client got no answer";
    EXPECT_GE(restart.sound_back_after, 0) << "the sound never came back";
    ASSERT_TRUE(restart.seen.resumed_after.has_value()) << "nothing heard on one side of it";
    // What the recordings alone show. Recorders lose frames but never hold one the sink did not
    // play, so a repeat they show happened. Frames missing after a restart may be the graph's
    // (recorders miss cycles as the program's new stream joins the graph, and more on a busy
    // machine): on PipeWire, where those come from is told by the frame the program gave first.
    EXPECT_GE(*restart.seen.resumed_after, graph ? -kGraphQuantum : -pulse_slack)
        << "frames heard twice";
    if (graph) {
      ExpectWentOnFromTheLastFrameHeard(restart);
    } else {
      EXPECT_LE(*restart.seen.resumed_after, pulse_slack) << "frames skipped";
    }
  }
  // On a busy machine the graph and its recorders miss cycles, up to 5 in a row (2560 frames)
  // seen at a load of 10 on two cores: the counts jump forward by whole quanta, far less than one
  // of the player's buffers. The player never repeats while it plays.
  for (const int64_t jump : report.jumps_while_playing) {
    EXPECT_TRUE(jump > 0 && jump < kPlayerBufferFrames)
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
  // Hung with the program's stream on it, however slowly that stream was made: what is left of
  // it afterwards is looked for below.
  ASSERT_TRUE(test_support::PollUntil([this] {
    return server_.SinkInputs().find("Brevalo") != std::string::npos;
  })) << server_.SinkInputs();
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
