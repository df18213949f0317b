#pragma once

#include <functional>
#include <memory>

#include "tui/component/event.h"
#include "tui/screen/screen.h"

namespace tui {

class Loop;

// What the program does around a stop by Ctrl-Z, on the loop's thread: `stopping` runs just
// before the terminal is given back and the process stops, `continued` once it runs again and
// has the terminal back (after `fg`). Either may be empty.
struct SuspendHooks {
  std::function<void()> stopping;
  std::function<void()> continued;
};

// The terminal as a full-screen interface. The terminal itself is taken by a Loop made over
// this screen, and given back when that Loop is destroyed.
class ScreenInteractive {
 public:
  static ScreenInteractive Fullscreen();
  // A screen of a fixed size that never touches a terminal, even with a Loop made over it: for
  // driving component trees off-screen.
  static ScreenInteractive FixedSize(int width, int height);

  ScreenInteractive(ScreenInteractive&&) noexcept;
  ScreenInteractive& operator=(ScreenInteractive&&) noexcept;
  ~ScreenInteractive();

  // Queues an event for the next RunOnce. Safe from any thread.
  void PostEvent(Event event);
  // A closure that asks the loop to quit; the loop has quit once a RunOnce processed it.
  std::function<void()> ExitLoopClosure();
  // True once the exit closure has been called.
  bool ExitRequested() const;
  // Replaces what runs around a stop by Ctrl-Z.
  void SetSuspendHooks(SuspendHooks hooks);

  // Columns and rows of the frame being drawn.
  int dimx() const;
  int dimy() const;
  // The frame the last RunOnce drew, as cells: for reading back what a Loop showed.
  const Screen& LastFrame() const;

  struct Impl;

 private:
  friend class Loop;
  explicit ScreenInteractive(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

}  // namespace tui
