#pragma once

#include <chrono>
#include <vector>

#include "tui/component/event.h"
#include "tui/component/input_notice.h"
#include "tui/component/input_parser.h"
#include "tui/component/screen_interactive.h"
#include "tui/component/stderr_capture.h"
#include "tui/component/terminal_signals.h"
#include "tui/screen/screen.h"
#include "tui/screen/terminal.h"

namespace tui {

// The terminal side of a Loop: holds the terminal, follows its signals, reads its input without
// ever waiting (and without asking the terminal, on a pass that no input was noticed for) and
// draws frames on it. The members are built in the order listed and torn down
// the other way: the terminal is restored first, then held standard error is written out, then
// the previous signal handlers come back.
class TerminalSession {
 public:
  TerminalSession() = default;

  // Acts on the signals that arrived: Ctrl-Z suspends here, between the hooks, and returns once
  // continued; a resize appends Event::Custom. True when a quitting signal arrived.
  bool HandleSignals(std::vector<Event>& out, const SuspendHooks& hooks);
  // Decodes the input already waiting and appends its events. A lone ESC becomes Escape once
  // no byte has followed it for a short while. False when the terminal has gone away.
  bool ReadInput(std::vector<Event>& out);

  int width() const { return terminal_.width(); }
  int height() const { return terminal_.height(); }
  void Draw(const Screen& frame) { terminal_.Draw(frame); }
  bool NeedsRepaint() const { return terminal_.NeedsRepaint(); }

 private:
  void Suspend(const SuspendHooks& hooks);

  TerminalSignals signals_;
  StderrCapture stderr_capture_;
  Terminal terminal_;
  InputNotice input_notice_;
  InputParser parser_;
  std::chrono::steady_clock::time_point last_input_;
};

}  // namespace tui
