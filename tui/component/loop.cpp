#include "tui/component/loop.h"

#include <stdexcept>
#include <vector>

#include "tui/component/screen_interactive_impl.h"
#include "tui/component/terminal_session.h"

namespace tui {

struct Loop::State {
  explicit State(ScreenInteractive::Impl* screen) : screen(screen) {}

  ScreenInteractive::Impl* screen;
  // The terminal, for a full-screen screen; null for one that draws off-screen only.
  std::unique_ptr<TerminalSession> session;
  bool quitted = false;
  // Reused from pass to pass, so that an idle pass allocates nothing.
  std::vector<Event> events;
  // The element in `screen->frame`. Elements do not change once built, so a root that hands
  // back the same one at the same size asks for the frame already drawn.
  Element drawn;
};

Loop::Loop(ScreenInteractive* screen, Component component)
    : screen_(screen), component_(std::move(component)) {
  if (screen_ == nullptr || screen_->impl_ == nullptr) {
    throw std::invalid_argument("a Loop needs a screen");
  }
  ScreenInteractive::Impl* impl = screen_->impl_.get();
  if (impl->in_loop) {
    throw std::logic_error("a screen runs one Loop at a time");
  }
  state_ = std::make_unique<State>(impl);
  if (impl->fullscreen) {
    state_->session = std::make_unique<TerminalSession>();
  }
  impl->in_loop = true;
}

Loop::~Loop() {
  // The terminal comes back here, before the components go.
  state_->session.reset();
  state_->screen->in_loop = false;
}

bool Loop::HasQuitted() { return state_->quitted; }

void Loop::RunOnce() {
  if (state_->quitted) {
    return;
  }
  Dispatch();
  if (state_->screen->exit_requested) {
    state_->quitted = true;
    return;
  }
  Draw();
}

void Loop::Dispatch() {
  ScreenInteractive::Impl& screen = *state_->screen;
  std::vector<Event>& events = state_->events;
  events.clear();
  TerminalSession* session = state_->session.get();
  if (session != nullptr && session->HandleSignals(events, screen.suspend_hooks)) {
    screen.exit_requested = true;
  }
  screen.TakePosted(events);
  // With the terminal gone there is nobody left to quit but us.
  if (session != nullptr && !session->ReadInput(events)) {
    screen.exit_requested = true;
  }
  for (const Event& event : events) {
    // Nothing is handled after a quit: it would act on a program that is closing.
    if (screen.exit_requested) {
      break;
    }
    if (component_ != nullptr) {
      component_->OnEvent(event);
    }
  }
}

void Loop::Draw() {
  ScreenInteractive::Impl& screen = *state_->screen;
  TerminalSession* session = state_->session.get();
  if (session != nullptr) {
    screen.width = session->width();
    screen.height = session->height();
  }
  Screen& frame = screen.frame;
  const bool resized = frame.dimx() != screen.width || frame.dimy() != screen.height;
  Element element = component_ != nullptr ? component_->Render() : nullptr;
  const bool unchanged = !resized && element != nullptr && element == state_->drawn;
  if (!unchanged) {
    if (resized) {
      frame.Resize(screen.width, screen.height);
    } else {
      frame.Clear();
    }
    Render(frame, element);
    state_->drawn = std::move(element);
  }
  if (session != nullptr && (!unchanged || session->NeedsRepaint())) {
    session->Draw(frame);
  }
}

}  // namespace tui
