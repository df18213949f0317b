#pragma once

#include <string>

#include "tui/screen/curses_painter.h"
#include "tui/screen/screen.h"

typedef struct screen SCREEN;

namespace tui {

// Owns the terminal through ncursesw while it lives: the alternate screen, no echo, no line
// buffering, the cursor hidden and mouse presses reported. Destroying it gives the terminal back
// as it was found, modes and all; a terminal without an alternate screen is left cleared rather
// than showing the last frame. One at a time; used on one thread.
class Terminal {
 public:
  // Takes the terminal; throws std::runtime_error, naming the terminal type where that is the
  // cause, when standard input and output are not a terminal, ncurses has no description of it,
  // or it cannot move its cursor (TERM=dumb); std::logic_error when another Terminal holds it.
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Gives the terminal back for a while (before the process stops on Ctrl-Z).
  void Release();
  // Takes it again after Release, or after the process was stopped and continued, and repaints
  // every cell at the next Draw.
  void Retake();
  // Reads the terminal's size again after a resize; true when it changed.
  bool UpdateSize();

  int width() const;
  int height() const;

  // Sends what changed in `frame`, which should be width() x height().
  void Draw(const Screen& frame);
  // True when the terminal no longer shows the last frame drawn (it was taken again or resized):
  // the next Draw must come even if the frame is unchanged.
  bool NeedsRepaint() const { return !painter_.UpToDate(); }

 private:
  void EnterModes();
  void LeaveModes();

  SCREEN* curses_ = nullptr;
  bool released_ = false;
  std::string frame_eraser_;  // Sent after leaving the modes; empty with an alternate screen.
  CursesPainter painter_;
};

// Puts the terminal back as the living Terminal found it, if there is one: leaves the alternate
// screen (or clears the screen where there is none), shows the cursor, stops mouse reports,
// restores the saved terminal modes. Only async-signal-safe calls: for the paths where the
// normal teardown cannot run (a crash, a fatal signal, exit without teardown). After it the
// Terminal must not draw again.
void RestoreTerminalFromSignal();

}  // namespace tui
