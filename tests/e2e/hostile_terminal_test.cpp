// The built program in tmux, on terminals that misbehave: absurd sizes, resizes in the middle of
// playback and of the tag overlay, a hang-up, a terminal that closes under it, Ctrl-C and
// Ctrl-Z. Whatever happens, the program must not crash, and when it is done (or stopped) the
// terminal must be as it was: normal screen, cursor shown, mouse reports off, same modes.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/counting_track.h"
#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace fs = std::filesystem;
using test_support::PollUntil;
using test_support::TmuxSession;
using ::testing::HasSubstr;

namespace {

constexpr char kMouseOn[] = "\x1b[?1006h";
constexpr char kEnterAlternate[] = "\x1b[?1049h";
constexpr char kLeaveAlternate[] = "\x1b[?1049l";

// Runs the program in a process group of its own that owns the terminal's foreground, as an
// interactive shell runs a job: so Ctrl-C and Ctrl-Z reach the program alone (not the pane's
// shell), and the group may really stop. Needs Perl's POSIX module (perl-base has it).
constexpr char kForegroundJob[] =
    R"(perl -MPOSIX -e '$SIG{TTOU} = "IGNORE"; setpgid(0, 0); )"
    R"(tcsetpgrp(0, getpgrp()) or die "tcsetpgrp: $!"; $SIG{TTOU} = "DEFAULT"; )"
    R"(exec {$ARGV[0]} @ARGV or die "exec: $!"' )";

// Ends the current test, as a missing prerequisite does, when kForegroundJob cannot run.
#define SKIP_WITHOUT_FOREGROUND_JOBS()                                             \
  do {                                                                             \
    if (!HaveForegroundJobs()) {                                                   \
      MISSING_PREREQUISITE(                                                        \
          "Perl's POSIX module is needed to run the program as a foreground job"); \
    }                                                                              \
  } while (false)

// The process's state letter from /proc ('S', 'R', 'T' stopped, 'Z' zombie), or 0 when it is
// gone.
char ProcessState(int pid) {
  const std::string stat = test_support::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t name_end = stat.rfind(')');
  return name_end == std::string::npos || name_end + 2 >= stat.size() ? 0 : stat[name_end + 2];
}

bool ProcessEnded(int pid) {
  const char state = ProcessState(pid);
  return state == 0 || state == 'Z' || state == 'X';
}

// The terminal's modes as `stty -g` prints them, read from outside the pane.
std::string SttyOf(const std::string& tty) {
  std::string modes;
  FILE* pipe = popen(("stty -g -F " + tty + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) {
    return modes;
  }
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    modes += buffer;
  }
  pclose(pipe);
  while (!modes.empty() && modes.back() == '\n') {
    modes.pop_back();
  }
  return modes;
}

void ExpectScreenGivenBack(TmuxSession& session) {
  EXPECT_EQ(session.PaneFormat("#{alternate_on}"), "0");
  EXPECT_EQ(session.PaneFormat("#{cursor_flag}"), "1");
  EXPECT_EQ(session.PaneFormat("#{mouse_any_flag}"), "0");
}

// After the program has ended: the screen and the terminal's modes are as they were.
void ExpectTerminalRestored(TmuxSession& session) {
  ExpectScreenGivenBack(session);
  EXPECT_FALSE(session.SttyBefore().empty());
  EXPECT_EQ(session.SttyAfter(), session.SttyBefore());
}

// The main screen's frame fills exactly `width` x `height` cells: borders in the corners.
bool ShowsWholeFrame(TmuxSession& session, int width, int height) {
  const std::vector<std::string> lines = session.Screen();
  if (static_cast<int>(lines.size()) != height) {
    return false;
  }
  const std::string rule = [width] {
    std::string line;
    for (int i = 0; i < width - 2; ++i) {
      line += "\u2500";
    }
    return line;
  }();
  return lines.front() == "\u256d" + rule + "\u256e" && lines.back() == "\u2570" + rule + "\u256f";
}

// The elapsed time at the start of the progress row.
std::string Elapsed(TmuxSession& session) {
  const std::vector<std::string> lines = session.Screen();
  if (lines.size() < 4 || lines[3].size() < 8) {
    return "";
  }
  return lines[3].substr(3, 5);
}

// True once the clock has moved on from what it shows now: the track is still playing.
bool ClockMoves(TmuxSession& session) {
  const std::string now = Elapsed(session);
  return PollUntil([&] {
    const std::string later = Elapsed(session);
    return !later.empty() && later != now && later != "--:--";
  });
}

class HostileTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_TMUX();
    test_support::MediaRecipe recipe;
    recipe.format = test_support::MediaFormat::kMp3Cbr;
    recipe.seconds = 20.0;  // Long enough that no track ends during a test.
    recipe.tags.title = "Steady Tone";
    const std::string song = test_support::MakeMedia(recipe);
    ASSERT_FALSE(song.empty());
    fs::create_directory(dir_.path() / "sub");
    fs::copy_file(song, dir_.path() / "a first.mp3");
    fs::copy_file(song, dir_.path() / "b second.mp3");
  }

  // The program on the folder, or playing `file` of it from the start; on the terminal type
  // `term` rather than tmux's own when given.
  TmuxSession Start(int width, int height, const std::string& file = "",
                    const std::string& prefix = "", const std::string& term = "") const {
    const fs::path target = file.empty() ? dir_.path() : dir_.path() / file;
    std::map<std::string, std::string> environment = {{"SDL_AUDIODRIVER", "disk"},
                                                      {"SDL_DISKAUDIOFILE", dir_ / "played.raw"}};
    if (!term.empty()) {
      environment["TERM"] = term;
    }
    return TmuxSession(prefix + test_support::ProgramPath() + " '" + target.string() + "'",
                       environment, width, height);
  }

  TmuxSession StartPlaying(const std::string& prefix = "") const {
    return Start(80, 24, "a first.mp3", prefix);
  }

  static bool HaveForegroundJobs() {
    return test_support::RunProgram({"perl", "-MPOSIX", "-e", "1"}) == 0;
  }

  test_support::TempDir dir_;
};

TEST_F(HostileTerminalTest, OddSizesDrawAndQuitCleanly) {
  for (const auto& [width, height] : {std::pair{1, 1}, {10, 5}, {20, 80}, {80, 20}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    TmuxSession session = Start(width, height);
    ASSERT_TRUE(
        PollUntil([&] { return session.OutputBytes().find(kMouseOn) != std::string::npos; }));
    if (height >= 10) {
      ASSERT_TRUE(PollUntil([&] { return ShowsWholeFrame(session, width, height); }));
      EXPECT_TRUE(session.WaitFor("\u2502b second.mp3")) << session.ScreenText();
    }
    // Keys are handled between frames at this size; a full-size frame shows that they were.
    session.SendKeys({"Down"});
    session.Resize(80, 24);
    ASSERT_TRUE(PollUntil([&] { return ShowsWholeFrame(session, 80, 24); }));
    session.SendKeys({"Enter"});
    ASSERT_TRUE(session.WaitFor("FILE BROWSER (" + (dir_.path() / "sub").string() + ")"));
    session.SendKeys({"Escape"});
    EXPECT_EQ(session.WaitForExit(), 0);
    ExpectTerminalRestored(session);
  }
}

TEST_F(HostileTerminalTest, ResizesWhilePlayingAndWhileTheOverlayIsOpen) {
  TmuxSession session = StartPlaying();
  ASSERT_TRUE(session.WaitFor("Now playing: Steady Tone"));
  const std::vector<std::pair<int, int>> sizes = {{1, 1},   {10, 5},   {20, 80},
                                                  {80, 20}, {200, 60}, {80, 24}};
  for (const auto& [width, height] : sizes) {
    session.Resize(width, height);
    if (height >= 3 && width >= 3) {
      ASSERT_TRUE(PollUntil([&] { return ShowsWholeFrame(session, width, height); }))
          << width << "x" << height;
    }
  }
  EXPECT_TRUE(session.WaitFor("Now playing: Steady Tone")) << session.ScreenText();
  EXPECT_TRUE(ClockMoves(session));

  session.SendKeys({"Tab"});
  ASSERT_TRUE(session.WaitFor("Track Metadata"));
  // Nothing of the folder header under it reads on around the window's title.
  EXPECT_TRUE(session.WaitFor("\u2502     Track Metadata      \u2502")) << session.ScreenText();
  for (const auto& [width, height] : sizes) {
    session.Resize(width, height);
    if (height >= 3 && width >= 3) {
      ASSERT_TRUE(PollUntil([&] {
        const std::vector<std::string> lines = session.Screen();
        return static_cast<int>(lines.size()) == height && lines.back().ends_with("\u256f");
      })) << width
          << "x" << height;
    }
  }
  ASSERT_TRUE(session.WaitFor("Title:  Steady Tone"));
  EXPECT_TRUE(ClockMoves(session));
  session.SendKeys({"Escape"});
  ASSERT_TRUE(session.WaitUntilGone("Track Metadata"));
  EXPECT_TRUE(PollUntil([&] { return ShowsWholeFrame(session, 80, 24); })) << session.ScreenText();
  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);
  ExpectTerminalRestored(session);
}

TEST_F(HostileTerminalTest, HangUpSignalQuitsThroughTheTeardown) {
  TmuxSession session = StartPlaying();
  ASSERT_TRUE(session.WaitFor("Now playing: Steady Tone"));
  session.Signal(SIGHUP);
  EXPECT_EQ(session.WaitForExit(), 0);
  ExpectTerminalRestored(session);
}

TEST_F(HostileTerminalTest, ClosingTheTerminalEndsTheProgram) {
  for (const bool whole_server : {false, true}) {
    SCOPED_TRACE(whole_server ? "kill-server" : "kill-pane");
    TmuxSession session = StartPlaying();
    ASSERT_TRUE(session.WaitFor("Now playing: Steady Tone"));
    const int pid = session.ProgramPid();
    ASSERT_GT(pid, 0);
    ASSERT_FALSE(ProcessEnded(pid));
    if (whole_server) {
      session.KillServer();
    } else {
      session.KillPane();
    }
    // A program that spun on the dead terminal, or waited on it, would still be there.
    EXPECT_TRUE(PollUntil([&] { return ProcessEnded(pid); })) << "state " << ProcessState(pid);
  }
}

TEST_F(HostileTerminalTest, CtrlCQuitsThroughTheTeardown) {
  SKIP_WITHOUT_FOREGROUND_JOBS();
  TmuxSession session = StartPlaying(kForegroundJob);
  ASSERT_TRUE(session.WaitFor("Now playing: Steady Tone"));
  session.SendKeys({"C-c"});
  EXPECT_EQ(session.WaitForExit(), 0);
  ExpectTerminalRestored(session);
}

TEST_F(HostileTerminalTest, CtrlZGivesTheTerminalBackUntilContinued) {
  SKIP_WITHOUT_FOREGROUND_JOBS();
  TmuxSession session = StartPlaying(kForegroundJob);
  ASSERT_TRUE(session.WaitFor("Now playing: Steady Tone"));
  const int pid = session.ProgramPid();
  ASSERT_GT(pid, 0);
  session.SendKeys({"C-z"});
  ASSERT_TRUE(PollUntil([&] { return ProcessState(pid) == 'T'; })) << "the program did not stop";
  ExpectScreenGivenBack(session);
  EXPECT_EQ(SttyOf(session.PaneFormat("#{pane_tty}")), session.SttyBefore());

  // As `fg` would: the whole screen is drawn again, not only what changed.
  const size_t stopped_at = session.OutputBytes().size();
  kill(pid, SIGCONT);
  // The redraw is waited for whole: it reaches the pane in pieces, and its bottom border comes
  // after the last row. Later frames send only the cells that changed: these come from it alone.
  const std::vector<std::string> whole_screen = {kEnterAlternate,  "Now playing: Steady Tone",
                                                 "Brevalo - v0.3", "FILE BROWSER (",
                                                 ".. (parent)",    "[Folder] sub",
                                                 "a first.mp3",    "b second.mp3",
                                                 "\u256d",         "\u256f"};
  std::string redrawn;
  const auto holds_all = [&] {
    redrawn = session.OutputBytes().substr(stopped_at);
    return std::all_of(whole_screen.begin(), whole_screen.end(), [&](const std::string& text) {
      return redrawn.find(text) != std::string::npos;
    });
  };
  PollUntil(holds_all);
  for (const std::string& text : whole_screen) {
    EXPECT_THAT(redrawn, HasSubstr(text));
  }
  EXPECT_EQ(session.PaneFormat("#{alternate_on}"), "1");
  EXPECT_TRUE(ClockMoves(session));
  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);
  ExpectTerminalRestored(session);
}

// Ctrl-Z stops the process but not the sound server, which holds a second of the track: the
// sound must stop with the process, and after `fg` go on from the very next frame.
class CtrlZThroughAServerTest : public HostileTerminalTest,
                                public ::testing::WithParamInterface<test_support::ServerKind> {};

TEST_P(CtrlZThroughAServerTest, TheSoundStopsWithTheProcessAndGoesOnExactlyAfterFg) {
  SKIP_WITHOUT_FOREGROUND_JOBS();
  SKIP_WITHOUT_SOUND_SERVER(GetParam());
  test_support::SoundServer server(GetParam());
  ASSERT_TRUE(server.ok()) << server.Logs();
  constexpr int64_t kFrames = 5 * 44100;
  // Alone in its folder: nothing follows it by the automatic advance.
  fs::create_directory(dir_.path() / "alone");
  const fs::path track = dir_.path() / "alone" / "counting.wav";
  ASSERT_TRUE(test_support::WriteCountingTrack(track, kFrames));
  ASSERT_TRUE(server.StartRecording());
  TmuxSession session(kForegroundJob + test_support::ProgramPath() + " '" + track.string() + "'",
                      server.ClientEnvironment());
  ASSERT_TRUE(session.WaitFor("Now playing"));
  const int pid = session.ProgramPid();
  ASSERT_GT(pid, 0);
  // Stopped once sound is heard, however slowly the stream starts: the clock counts what the
  // server has played.
  ASSERT_TRUE(session.WaitFor("00:01", std::chrono::seconds(15))) << session.ScreenText();
  session.SendKeys({"C-z"});
  // Looked at closely: the moment it stops is what the silence is measured from.
  while (ProcessState(pid) != 'T') {
    ASSERT_FALSE(ProcessEnded(pid));
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  const auto stopped = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  const auto continued = std::chrono::steady_clock::now();
  kill(pid, SIGCONT);
  ASSERT_TRUE(PollUntil([&] { return session.ScreenText().find("--:--") != std::string::npos; }))
      << "the track never ended";
  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);

  const std::vector<int16_t> recorded = server.StopRecording();
  const std::vector<test_support::CountedRun> runs = test_support::CountedRuns(recorded);
  ASSERT_EQ(runs.size(), 1u) << "frames were skipped or played twice around the stop";
  EXPECT_EQ(runs[0].first, 0);
  EXPECT_EQ(runs[0].last, kFrames - 1);
  // The silence lasts as long as the stop, less what played on after it; starting again after
  // `fg` only lengthens it. A stream left running plays on for the second the server holds, so
  // the bound is half of that: what a busy server takes to act on the pause stays far within it.
  const std::vector<int64_t> silences = test_support::InnerSilences(recorded, 2);
  ASSERT_FALSE(silences.empty()) << "nothing stopped";
  const auto silence =
      std::chrono::milliseconds(*std::max_element(silences.begin(), silences.end()) * 1000 / 44100);
  EXPECT_GE(silence + std::chrono::milliseconds(500),
            std::chrono::duration_cast<std::chrono::milliseconds>(continued - stopped))
      << "the sound went on after the process stopped";
}

INSTANTIATE_TEST_SUITE_P(Servers, CtrlZThroughAServerTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);

TEST_F(HostileTerminalTest, StopWithoutJobControlGivesTheTerminalBackAndRedrawsAtOnce) {
  // The pane's shell has no job control: the program's group is orphaned and may not stop, so
  // the program gives the terminal back and takes it again straight away. (The continue comes
  // only after that: a SIGCONT discards a stop signal still pending.)
  TmuxSession session = StartPlaying();
  ASSERT_TRUE(session.WaitFor("Now playing: Steady Tone"));
  const size_t before = session.OutputBytes().size();
  session.Signal(SIGTSTP);
  ASSERT_TRUE(PollUntil([&] {
    const std::string since = session.OutputBytes().substr(before);
    const size_t left = since.find(kLeaveAlternate);
    return left != std::string::npos && since.find("b second.mp3", left) != std::string::npos;
  }));
  session.Signal(SIGCONT);
  EXPECT_EQ(session.PaneFormat("#{alternate_on}"), "1");
  EXPECT_TRUE(ClockMoves(session));
  // Still answering keys: from the playing row up to the folder, and into it.
  session.SendKeys({"Up", "Enter"});
  ASSERT_TRUE(session.WaitFor("FILE BROWSER (" + (dir_.path() / "sub").string() + ")"));
  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);
  ExpectTerminalRestored(session);
}

// A terminal that cannot draw the interface is refused as one that terminfo does not know:
// before anything is drawn, with one line that names its type, the audio stopped, status 1.
TEST_F(HostileTerminalTest, TerminalsThatCannotDrawAreRefused) {
  for (const std::string term : {"dumb", "no-such-terminal"}) {
    SCOPED_TRACE(term);
    // Wide enough that the line does not wrap.
    TmuxSession session = Start(200, 24, "a first.mp3", "", term);
    EXPECT_EQ(session.WaitForExit(), 1);
    std::vector<std::string> said;
    for (const std::string& line : session.Screen()) {
      if (!line.empty() && !line.starts_with("EXIT=")) {
        said.push_back(line);
      }
    }
    ASSERT_EQ(said.size(), 1u) << session.ScreenText();
    EXPECT_THAT(said[0], HasSubstr("'" + term + "'"));
    ExpectTerminalRestored(session);
  }
}

// Without an alternate screen (the Linux console, a vt100) the last frame would stay after the
// program, with the shell's prompt inside its border: it is cleared instead.
TEST_F(HostileTerminalTest, TerminalsWithoutAnAlternateScreenAreLeftClear) {
  for (const std::string term : {"linux", "vt100"}) {
    SCOPED_TRACE(term);
    TmuxSession session = Start(80, 24, "", "", term);
    ASSERT_TRUE(session.WaitFor("FILE BROWSER ("));
    EXPECT_EQ(session.PaneFormat("#{alternate_on}"), "0");
    session.SendKeys({"Escape"});
    EXPECT_EQ(session.WaitForExit(), 0);
    const std::vector<std::string> lines = session.Screen();
    EXPECT_EQ(test_support::LineWith(lines, "FILE BROWSER ("), "");
    EXPECT_EQ(test_support::LineWith(lines, "\u2502"), "") << "the prompt lands in the border";
    ExpectTerminalRestored(session);
  }
}

}  // namespace
