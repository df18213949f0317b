#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "tests/tui/pty_process.h"
#include "tui/component/component.h"
#include "tui/component/loop.h"
#include "tui/component/screen_interactive.h"

namespace {

using tui::Event;
using tui_test::PtyProcess;

constexpr char kEnterAlternate[] = "\x1b[?1049h";
constexpr char kLeaveAlternate[] = "\x1b[?1049l";
constexpr char kHideCursor[] = "\x1b[?25l";
constexpr char kShowCursor[] = "\x1b[?25h";
constexpr char kMouseOn[] = "\x1b[?1000h";
constexpr char kMouseOff[] = "\x1b[?1000l";

enum ChildExit { kRestored = 0, kModesChanged = 3, kNeverQuit = 4 };

// How the child's loop treats a quit.
enum class Quit { kStop, kIgnore };

// Whether the child's root builds a new element on every pass, or hands back the one it built
// last until a key arrives: then a resize changes nothing it shows but the layout.
enum class Frames { kBuiltEachPass, kKept };

std::string NameOf(const Event& event) {
  if (event.is_mouse()) {
    return "M" + std::to_string(event.mouse().x) + "," + std::to_string(event.mouse().y);
  }
  const std::pair<Event, const char*> names[] = {
      {Event::ArrowUp, "UP"}, {Event::ArrowDown, "DOWN"}, {Event::Home, "HOME"},
      {Event::End, "END"},    {Event::PageUp, "PGUP"},    {Event::PageDown, "PGDN"},
      {Event::Return, "RET"}, {Event::Tab, "TAB"},        {Event::Custom, "CUSTOM"}};
  for (const auto& [named, name] : names) {
    if (event == named) {
      return name;
    }
  }
  return event.input();
}

// The program in the child: shows "READY <size>" and the events it saw, quits on Escape, and
// reports whether the terminal's modes came back as they were. Once the terminal is back it
// prints "SEEN:" and the events, in plain text (on screen only the changed cells are sent, so
// the screen's text cannot be searched in the output), then "LAST:", the size and the top row of
// the last frame drawn.
int RunInterface(Quit quit, const std::function<void(const Event&)>& on_event = nullptr,
                 Frames frames = Frames::kBuiltEachPass) {
  termios before{};
  tcgetattr(STDIN_FILENO, &before);
  std::string seen;
  std::string last;
  {
    tui::ScreenInteractive screen = tui::ScreenInteractive::Fullscreen();
    std::string kept_seen;
    tui::Element kept;
    tui::Component root = tui::Renderer([&] {
      if (frames == Frames::kKept && kept != nullptr && kept_seen == seen) {
        return kept;
      }
      kept_seen = seen;
      kept = tui::vbox({tui::text("READY " + std::to_string(screen.dimx()) + "x" +
                                  std::to_string(screen.dimy())),
                        tui::text("seen:" + seen)}) |
             tui::border;
      return kept;
    });
    root |= tui::CatchEvent([&](Event event) {
      if (on_event) {
        on_event(event);
      }
      if (event == Event::Escape) {
        screen.ExitLoopClosure()();
        return true;
      }
      if (frames == Frames::kKept && event == Event::Custom) {
        return true;
      }
      seen += " " + NameOf(event);
      return true;
    });
    tui::Loop loop(&screen, root);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (quit == Quit::kIgnore || !loop.HasQuitted()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return kNeverQuit;
      }
      loop.RunOnce();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const tui::Screen& frame = screen.LastFrame();
    last = std::to_string(frame.dimx()) + "x" + std::to_string(frame.dimy()) + " " +
           (frame.dimy() > 0 ? frame.Lines().front() : "");
  }
  std::printf("SEEN:%s\n", seen.c_str());
  std::printf("LAST:%s\n", last.c_str());
  std::fflush(stdout);
  termios after{};
  tcgetattr(STDIN_FILENO, &after);
  return std::memcmp(&before, &after, sizeof(termios)) == 0 ? kRestored : kModesChanged;
}

int ExitCode(std::optional<int> status) {
  return status.has_value() && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

int DeathSignal(std::optional<int> status) {
  return status.has_value() && WIFSIGNALED(*status) ? WTERMSIG(*status) : 0;
}

TEST(LoopTerminalTest, TakesTheTerminalAndGivesItBackOnQuit) {
  PtyProcess child(40, 10, [] { return RunInterface(Quit::kStop); });
  ASSERT_TRUE(child.WaitForOutput("READY 40x10"));
  const size_t drawn = child.Output().find("READY");
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);

  const std::string& output = child.Output();
  EXPECT_LT(output.find(kEnterAlternate), drawn);
  EXPECT_LT(output.find(kHideCursor), drawn);
  EXPECT_LT(output.find(kMouseOn), drawn);
  EXPECT_NE(output.find("╭"), std::string::npos);
  EXPECT_NE(output.find(kMouseOff, drawn), std::string::npos);
  EXPECT_NE(output.find(kLeaveAlternate, drawn), std::string::npos);
  EXPECT_NE(output.find(kShowCursor, drawn), std::string::npos);
}

TEST(LoopTerminalTest, KeysAndMouseArriveDecoded) {
  PtyProcess child(60, 8, [] { return RunInterface(Quit::kStop); });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  child.Write("\x1b[A\x1bOB\x1b[1~\x1b[4~\x1b[5~\x1b[6~\rq\t\x1b[<0;3;2M");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // A lone Escape, recognised once no byte follows it.
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);
  EXPECT_NE(child.Output().find("SEEN: UP DOWN HOME END PGUP PGDN RET q TAB M2,1\r\n"),
            std::string::npos);
}

// Input is read only on passes that a notice from the terminal (or a while without one) calls
// for: a flood read over many passes must still arrive whole, and the key after it.
TEST(LoopTerminalTest, AFloodOfInputArrivesWholeAndTheKeyAfterIt) {
  constexpr int kKeys = 100000;
  PtyProcess child(40, 6, [] {
    int keys = 0;
    const int code = RunInterface(
        Quit::kStop, [&](const Event& event) { keys += event == Event::Character('x') ? 1 : 0; });
    std::printf("KEYS %d\n", keys);
    std::fflush(stdout);
    return code;
  });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  child.Write(std::string(kKeys, 'x'));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);
  EXPECT_NE(child.Output().find("KEYS " + std::to_string(kKeys)), std::string::npos);
}

TEST(LoopTerminalTest, OnlyChangedCellsAreSentAgain) {
  PtyProcess child(40, 6, [] { return RunInterface(Quit::kStop); });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  // Read the whole first frame; after it, idle passes send nothing at all.
  child.WaitForOutput("never sent", 0, std::chrono::milliseconds(200));
  const size_t before = child.Output().size();
  EXPECT_FALSE(child.WaitForOutput("\x1b", before, std::chrono::milliseconds(300)));
  EXPECT_EQ(child.Output().size(), before);
  child.Write("z");
  ASSERT_TRUE(child.WaitForOutput("z", before));
  const std::string update = child.Output().substr(before);
  EXPECT_EQ(update.find("READY"), std::string::npos);
  EXPECT_LT(update.size(), 40U);
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);
}

TEST(LoopTerminalTest, StandardErrorIsHeldUntilTheTerminalIsBack) {
  PtyProcess child(40, 6, [] {
    return RunInterface(Quit::kStop, [](const Event& event) {
      if (event == Event::Character('e')) {
        std::fprintf(stderr, "first: stdio\n");
        errno = ENOENT;
        std::perror("second: perror");
        std::cerr << "third: iostream" << std::endl;
        const char raw[] = "fourth: write\n";
        static_cast<void>(write(STDERR_FILENO, raw, sizeof(raw) - 1));
      }
    });
  });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  child.Write("e");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);

  const std::string& output = child.Output();
  const size_t restored = output.find(kLeaveAlternate);
  ASSERT_NE(restored, std::string::npos);
  const size_t first = output.find("first: stdio");
  const size_t second = output.find("second: perror: No such file or directory");
  const size_t third = output.find("third: iostream");
  const size_t fourth = output.find("fourth: write");
  ASSERT_NE(fourth, std::string::npos);
  EXPECT_LT(restored, first);
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_LT(third, fourth);
}

TEST(LoopTerminalTest, HeldLinesReachTheTerminalWithoutControlBytes) {
  PtyProcess child(40, 6, [] {
    return RunInterface(Quit::kStop, [](const Event& event) {
      if (event == Event::Character('e')) {
        std::fputs(
            "Failed to load: /m/\x1b]0;owned\x07\x1b[2J\r\xc2\x9b"
            "31m\xc2\xa9.mp3\n",
            stderr);
      }
    });
  });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  child.Write("e");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);

  const std::string& output = child.Output();
  const size_t restored = output.find(kLeaveAlternate);
  ASSERT_NE(restored, std::string::npos);
  // The copyright sign is ordinary text and stays; every control becomes '?'.
  EXPECT_NE(output.find("Failed to load: /m/?]0;owned??[2J??31m\xc2\xa9.mp3", restored),
            std::string::npos)
      << output.substr(restored);
}

TEST(LoopTerminalTest, HeldLinesReachTheTerminalAsWellFormedUtf8) {
  PtyProcess child(40, 6, [] {
    return RunInterface(Quit::kStop, [](const Event& event) {
      if (event == Event::Character('e')) {
        // A lone 0x9B, stray bytes, a cut sequence, a surrogate; then two-byte characters
        // from an odd offset on, so that the held file is read back with one of them cut
        // between two chunks.
        std::fputs(
            "bad: \x9b"
            "31m \xff\xfe \xe2\x99 cut \xed\xa0\x80 end\n",
            stderr);
        std::string accents = "x";
        for (int i = 0; i < 3000; ++i) {
          accents += "\xc3\xa9";
        }
        std::fputs((accents + "\n").c_str(), stderr);
      }
    });
  });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  child.Write("e");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);

  const std::string& output = child.Output();
  const size_t restored = output.find(kLeaveAlternate);
  ASSERT_NE(restored, std::string::npos);
  const std::string after = output.substr(restored);
  EXPECT_NE(after.find("bad: ?31m ?? ? cut ??? end"), std::string::npos) << after.substr(0, 80);
  std::string accents = "x";
  for (int i = 0; i < 3000; ++i) {
    accents += "\xc3\xa9";
  }
  EXPECT_NE(after.find(accents + "\r\n"), std::string::npos);
  EXPECT_EQ(after.find('\x9b'), std::string::npos);
  EXPECT_EQ(after.find('\xff'), std::string::npos);
}

TEST(LoopTerminalTest, StandardErrorThatIsNoTerminalGetsLinesAtOnce) {
  PtyProcess child(40, 6, [] {
    FILE* file = std::tmpfile();
    dup2(fileno(file), STDERR_FILENO);
    return RunInterface(Quit::kStop, [file](const Event& event) {
      if (event == Event::Character('e')) {
        std::fputs("straight to the file\n", stderr);
        std::fflush(stderr);
        const char* answer = std::ftell(file) > 0 ? "AT-ONCE\n" : "HELD\n";
        static_cast<void>(write(STDOUT_FILENO, answer, std::strlen(answer)));
      }
    });
  });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  child.Write("e");
  ASSERT_TRUE(child.WaitForOutput("AT-ONCE"));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);
  EXPECT_EQ(child.Output().find("straight to the file"), std::string::npos);
}

// Blue text, bright blue text, and a black background, as the terminal is told to draw them.
int RunColouredFrame(const char* term) {
  setenv("TERM", term, 1);
  tui::ScreenInteractive screen = tui::ScreenInteractive::Fullscreen();
  tui::Component root = tui::Renderer([] {
    return tui::vbox({tui::text("blue") | tui::color(tui::Color::Blue),
                      tui::text("light") | tui::color(tui::Color::BlueLight),
                      tui::text("night") | tui::bgcolor(tui::Color::Black)});
  });
  tui::Loop loop(&screen, root);
  loop.RunOnce();
  return 0;
}

TEST(LoopTerminalTest, PaletteColoursReachTheTerminal) {
  PtyProcess rich(20, 4, [] { return RunColouredFrame("xterm-256color"); });
  EXPECT_EQ(ExitCode(rich.Wait()), 0);
  EXPECT_NE(rich.Output().find("\x1b[34mblue"), std::string::npos);
  EXPECT_NE(rich.Output().find("\x1b[94mlight"), std::string::npos);
  EXPECT_NE(rich.Output().find("\x1b[40mnight"), std::string::npos);

  // With eight colours, the bright half is the dark half in bold.
  PtyProcess plain(20, 4, [] { return RunColouredFrame("xterm"); });
  EXPECT_EQ(ExitCode(plain.Wait()), 0);
  const std::string& output = plain.Output();
  const size_t light = output.find("light");
  ASSERT_NE(light, std::string::npos);
  const std::string before_light =
      output.substr(output.rfind("ue", light), light - output.rfind("ue", light));
  EXPECT_NE(before_light.find("1m"), std::string::npos) << before_light;
  EXPECT_NE(before_light.find("34m"), std::string::npos) << before_light;
}

TEST(LoopTerminalTest, QuittingSignalsEndTheLoopAndTheTeardownRuns) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    PtyProcess child(40, 6, [] { return RunInterface(Quit::kStop); });
    ASSERT_TRUE(child.WaitForOutput("READY"));
    if (signal_number == SIGINT) {
      child.Write("\x03");
    } else {
      child.Signal(signal_number);
    }
    EXPECT_EQ(ExitCode(child.Wait()), kRestored) << strsignal(signal_number);
    EXPECT_NE(child.Output().find(kLeaveAlternate), std::string::npos);
  }
}

TEST(LoopTerminalTest, SecondQuittingSignalRestoresTheTerminalAndEnds) {
  PtyProcess child(40, 6, [] {
    return RunInterface(Quit::kIgnore, [](const Event& event) {
      if (event == Event::Character('h')) {
        std::fprintf(stderr, "held line\n");
      }
    });
  });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  const size_t before = child.Output().size();
  child.Write("h");
  // Drawn once handled.
  ASSERT_TRUE(child.WaitForOutput("h", before));
  child.Signal(SIGTERM);
  // Far enough apart that the two are not merged into one pending signal.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  child.Signal(SIGTERM);
  EXPECT_EQ(DeathSignal(child.Wait()), SIGTERM);
  const std::string& output = child.Output();
  const size_t restored = output.find(kLeaveAlternate);
  ASSERT_NE(restored, std::string::npos);
  EXPECT_NE(output.find(kShowCursor, restored - 20), std::string::npos);
  EXPECT_GT(output.find("held line"), restored);
}

TEST(LoopTerminalTest, CrashRestoresTheTerminalBeforeTheProcessDies) {
  PtyProcess child(40, 6, [] {
    return RunInterface(Quit::kStop, [](const Event& event) {
      if (event == Event::Character('!')) {
        std::fprintf(stderr, "last words\n");
        std::abort();
      }
    });
  });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  child.Write("!");
  EXPECT_EQ(DeathSignal(child.Wait()), SIGABRT);
  const std::string& output = child.Output();
  const size_t restored = output.find(kLeaveAlternate);
  ASSERT_NE(restored, std::string::npos);
  EXPECT_GT(output.find("last words"), restored);
}

TEST(LoopTerminalTest, ResizeUpdatesTheSizeAndArrivesAsCustom) {
  PtyProcess child(40, 10, [] { return RunInterface(Quit::kStop); });
  ASSERT_TRUE(child.WaitForOutput("READY 40x10"));
  child.Resize(50, 12);
  EXPECT_TRUE(child.WaitForOutput("READY 50x12"));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);
  EXPECT_NE(child.Output().find("SEEN: CUSTOM\r\n"), std::string::npos);
}

TEST(LoopTerminalTest, TinyTerminalsAndResizesNeverBreakIt) {
  PtyProcess child(1, 1, [] { return RunInterface(Quit::kStop); });
  ASSERT_TRUE(child.WaitForOutput(kEnterAlternate));
  for (const auto& [width, height] : {std::pair{10, 5}, {2, 1}, {1, 3}, {30, 2}, {10, 5}}) {
    child.Resize(width, height);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  ASSERT_TRUE(child.WaitForOutput("READY"));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);
}

// Ctrl-Z, then the terminal given back and taken again: where the output comes back on the
// alternate screen, or npos when it does not. The child leads its own session, so the stop
// itself is refused by the kernel (an orphaned process group may not stop); the terminal must
// still be given back and taken again.
size_t SuspendAndComeBack(PtyProcess& child) {
  const size_t before = child.Output().size();
  child.Write("\x1a");
  if (!child.WaitForOutput(kLeaveAlternate, before)) {
    return std::string::npos;
  }
  const size_t left = child.Output().find(kLeaveAlternate, before);
  if (!child.WaitForOutput(kEnterAlternate, left)) {
    return std::string::npos;
  }
  return child.Output().find(kEnterAlternate, left);
}

TEST(LoopTerminalTest, CtrlZGivesTheTerminalBackAndRedrawsOnReturn) {
  PtyProcess child(40, 6, [] { return RunInterface(Quit::kStop); });
  ASSERT_TRUE(child.WaitForOutput("READY"));
  const size_t back = SuspendAndComeBack(child);
  ASSERT_NE(back, std::string::npos);
  EXPECT_TRUE(child.WaitForOutput("READY", back));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);
}

TEST(LoopTerminalTest, AFrameHandedBackUnchangedIsRedrawnOnReturnAndLaidOutAgainOnResize) {
  PtyProcess child(40, 6, [] { return RunInterface(Quit::kStop, nullptr, Frames::kKept); });
  ASSERT_TRUE(child.WaitForOutput("READY 40x6"));
  const size_t back = SuspendAndComeBack(child);
  ASSERT_NE(back, std::string::npos);
  EXPECT_TRUE(child.WaitForOutput("READY 40x6", back));
  child.Write("z");
  EXPECT_TRUE(child.WaitForOutput("z", back));
  const size_t typed = child.Output().find("z", back);
  child.Resize(50, 8);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  child.Write("\x1b");
  EXPECT_EQ(ExitCode(child.Wait()), kRestored);
  std::string top_border = "╭";
  for (int x = 0; x < 48; ++x) {
    top_border += "─";
  }
  EXPECT_NE(child.Output().find("LAST:50x8 " + top_border + "╮", typed), std::string::npos);
}

TEST(LoopTerminalTest, FullscreenWithoutATerminalRefusesToStart) {
  PtyProcess child(40, 6, [] {
    freopen("/dev/null", "r", stdin);
    tui::ScreenInteractive screen = tui::ScreenInteractive::Fullscreen();
    try {
      tui::Loop loop(&screen, tui::Renderer([] { return tui::text("x"); }));
    } catch (const std::runtime_error&) {
      return 0;
    }
    return 1;
  });
  EXPECT_EQ(ExitCode(child.Wait()), 0);
  EXPECT_EQ(child.Output().find(kEnterAlternate), std::string::npos);
}

}  // namespace
