#pragma once

#include <memory>

#include "tui/component/component.h"
#include "tui/component/screen_interactive.h"

namespace tui {

// Runs `component` on `screen`, one pass at a time. Over a full-screen screen it holds the
// terminal for as long as it lives; over a fixed-size one it draws off-screen only.
class Loop {
 public:
  Loop(ScreenInteractive* screen, Component component);
  ~Loop();
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;

  // True once a RunOnce has processed an exit request (or a quitting signal).
  bool HasQuitted();
  // Never waits: reads the input already there, dispatches every pending event, draws once.
  void RunOnce();

 private:
  struct State;

  void Dispatch();
  void Draw();

  ScreenInteractive* screen_;
  Component component_;
  std::unique_ptr<State> state_;
};

}  // namespace tui
