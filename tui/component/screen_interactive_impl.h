#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "tui/component/event.h"
#include "tui/component/screen_interactive.h"
#include "tui/screen/screen.h"

namespace tui {

// What a ScreenInteractive shares with the Loop made over it.
struct ScreenInteractive::Impl {
  Impl(bool fullscreen, int width, int height)
      : fullscreen(fullscreen), width(width), height(height) {}

  // Moves the posted events, in order, to the end of `out`.
  void TakePosted(std::vector<Event>& out);

  // Set at creation; read-only after.
  const bool fullscreen;
  // Size of the frame being drawn; written by the Loop on the thread that runs it.
  int width;
  int height;
  // True while a Loop runs over this screen; written by that Loop.
  bool in_loop = false;
  // The last frame a Loop drew, kept for reading back.
  Screen frame{0, 0};

  // Run by the Loop around a stop by Ctrl-Z.
  SuspendHooks suspend_hooks;

  // Set by the exit closure, from any thread.
  std::atomic<bool> exit_requested{false};

  std::mutex posted_mutex;
  // Events posted from any thread; guarded by posted_mutex.
  std::vector<Event> posted;
};

}  // namespace tui
