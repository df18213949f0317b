#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/prerequisite.h"

namespace test_support {

// True when the tmux command can be run.
bool HaveTmux();

// Calls `done` every 20 ms until it is true; false once `timeout` has passed without that.
bool PollUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(15));

// The first line of `screen` that holds `text`, or "".
std::string LineWith(const std::vector<std::string>& screen, const std::string& text);

// The built program's path, from the build that compiled the tests.
std::string ProgramPath();

// A program running in a private tmux server, in a pane of a fixed size: keys go in, the screen
// and the terminal's modes come out. After the program exits, the pane keeps its shell line
// "EXIT=<status>" and stays open, so the restored terminal can be examined.
class TmuxSession {
 public:
  // Starts `command` (run by sh) with `environment` added, in a width x height pane.
  TmuxSession(const std::string& command, const std::map<std::string, std::string>& environment,
              int width = 80, int height = 24);
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  // tmux key names: "Escape", "Space", "Tab", "Enter", "Down", "NPage", or literal text.
  void SendKeys(const std::vector<std::string>& keys);
  // Types `bytes` into the pane as they are, e.g. a terminal's mouse report.
  void SendBytes(const std::string& bytes);
  void Resize(int width, int height);
  // Sends a signal to the program (the pane's foreground process group).
  void Signal(int signal_number);

  // The screen. Asking tmux for it costs a process or two, and tests ask every 20 ms while they
  // wait, on many sessions at once: the screen is asked for again only once the program has
  // written to the terminal since (the pane changes with its output alone, but for a resize), or
  // 0.2 s after it was last asked for.
  std::vector<std::string> Screen();
  // The screen with its styles as SGR sequences, e.g. "\x1b[7m" where inverse video starts.
  std::vector<std::string> StyledScreen();
  std::string ScreenText();
  // Waits until the screen contains `text`; false after `timeout`.
  bool WaitFor(const std::string& text,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool WaitUntilGone(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The program's exit status, once it has exited; nullopt after `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // A tmux format of the pane, e.g. "#{alternate_on}", "#{cursor_flag}", "#{mouse_any_flag}".
  std::string PaneFormat(const std::string& format);
  // Every byte the program has written to the terminal so far.
  std::string OutputBytes();
  // The program's process id, or -1.
  int ProgramPid();
  // The terminal's modes (`stty -g`) just before the program started and just after it ended;
  // empty until recorded.
  std::string SttyBefore();
  std::string SttyAfter();

  // Closes the terminal under the program: the pane alone, or the whole tmux server.
  void KillPane();
  void KillServer();

 private:
  // What tmux last said of the screen, the size of the pane's output then, and when.
  struct Capture {
    std::string text;
    std::uintmax_t output_size = 0;
    std::chrono::steady_clock::time_point at;
    bool valid = false;
  };

  std::string Tmux(const std::string& arguments);
  // capture-pane with `options`, kept in `capture` while the pane's output has not grown.
  const std::string& Captured(const std::string& options, Capture& capture);

  Capture screen_;
  Capture styled_screen_;
  std::string socket_;
  std::string work_dir_;
};

// The text of the screen row drawn in inverse video (the highlighted row), or "" when none is.
std::string HighlightedRow(TmuxSession& session);

// The screen once it holds every one of `texts`, or as it is when `timeout` has passed. A frame
// reaches the pane in pieces: what is drawn beside an awaited text is awaited too, not assumed.
std::string ScreenHoldingAll(TmuxSession& session, const std::vector<std::string>& texts,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Moves the highlight of the program's listing to the row that holds `name`: Home, then Down as
// many rows as it is below the first. False, with the screen in a test failure, when no row
// holds it or the highlight does not get there within `timeout`.
bool HighlightListingRow(TmuxSession& session, const std::string& name,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace test_support

// Ends the current test, as a missing prerequisite does (tests/support/prerequisite.h), when
// the tmux command is missing.
#define SKIP_WITHOUT_TMUX()                                                     \
  do {                                                                          \
    if (!::test_support::HaveTmux()) {                                          \
      MISSING_PREREQUISITE("tmux (package tmux) is needed to run the program"); \
    }                                                                           \
  } while (false)
