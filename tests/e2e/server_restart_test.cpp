// The desktop's sound server restarted under the program, as a session's service manager does
// it, and stopped outright (a hung daemon): the program must never hold the server up for
// other clients, must come back within a second of it, and must go on from where the sound
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

// How far from the frame after the last one heard a resume may start, in frames. PipeWire's
// graph tells the player's stream each cycle what it took, and PulseAudio closes the connection
// as it takes the stream off its sink, so nothing but the recorder's own loss shows: its last
// fragment may be lost when the server goes, so a resume may look that much later, or a frame
// rendered just before may show twice; 10 ms more on a busy machine.
int64_t ResumeSlack(const test_support::SoundServer& server) {
  return (server.EndRecorderFragment().count() + 10) * 44100 / 1000;
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
  const test_support::RestartSeriesReport report =
      test_support::RunRestartSeries(server_, album_.path(), {});
  ASSERT_EQ(report.failure, "");
  ASSERT_EQ(report.restarts.size(), 10u);
  const int64_t slack = ResumeSlack(server_);
  for (size_t i = 0; i < report.restarts.size(); ++i) {
    const RestartOutcome& restart = report.restarts[i];
    SCOPED_TRACE("restart " + std::to_string(i + 1) + ", " + test_support::NameOf(restart.moment));
    EXPECT_GE(restart.answered_after, 0) << "another client got no answer within a second";
    EXPECT_GE(restart.sound_back_after, 0) << "the sound never came back";
    EXPECT_LE(restart.sound_back_after, 1.0) << "the sound came back late";
    ASSERT_TRUE(restart.resumed_after.has_value()) << "nothing heard on one side of it";
    EXPECT_GE(*restart.resumed_after, -slack) << "frames heard twice";
    EXPECT_LE(*restart.resumed_after, slack) << "frames skipped";
  }
  // On a busy machine the graph may miss a cycle, its recorder's or the stream's: a gap of up to
  // its largest quantum. The player's own skips would be whole buffers, and it never repeats.
  for (const int64_t jump : report.jumps_while_playing) {
    EXPECT_TRUE(jump > 0 && jump <= 2048) << "a jump of " << jump << " frames while playing";
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
  // Far longer than a quit takes, far shorter than a wait for the server would be: it answers
  // only once continued, after this.
  const std::optional<int> status = session.WaitForExit(std::chrono::seconds(5));
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
