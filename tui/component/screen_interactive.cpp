#include "tui/component/screen_interactive.h"

#include <algorithm>
#include <utility>

#include <sys/ioctl.h>
#include <unistd.h>

#include "tui/component/screen_interactive_impl.h"

namespace tui {
namespace {

constexpr int kFallbackWidth = 80;
constexpr int kFallbackHeight = 24;

// The terminal's size as the kernel knows it, or the classic 80x24 when there is none.
void TerminalSize(int& width, int& height) {
  for (const int fd : {STDOUT_FILENO, STDIN_FILENO}) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
      width = size.ws_col;
      height = size.ws_row;
      return;
    }
  }
  width = kFallbackWidth;
  height = kFallbackHeight;
}

}  // namespace

void ScreenInteractive::Impl::TakePosted(std::vector<Event>& out) {
  const std::lock_guard<std::mutex> lock(posted_mutex);
  std::move(posted.begin(), posted.end(), std::back_inserter(out));
  posted.clear();
}

ScreenInteractive ScreenInteractive::Fullscreen() {
  int width = 0;
  int height = 0;
  TerminalSize(width, height);
  return ScreenInteractive(std::make_unique<Impl>(true, width, height));
}

ScreenInteractive ScreenInteractive::FixedSize(int width, int height) {
  return ScreenInteractive(std::make_unique<Impl>(false, std::max(width, 0), std::max(height, 0)));
}

ScreenInteractive::ScreenInteractive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ScreenInteractive::ScreenInteractive(ScreenInteractive&&) noexcept = default;
ScreenInteractive& ScreenInteractive::operator=(ScreenInteractive&&) noexcept = default;
ScreenInteractive::~ScreenInteractive() = default;

void ScreenInteractive::PostEvent(Event event) {
  const std::lock_guard<std::mutex> lock(impl_->posted_mutex);
  impl_->posted.push_back(std::move(event));
}

std::function<void()> ScreenInteractive::ExitLoopClosure() {
  Impl* impl = impl_.get();
  return [impl] { impl->exit_requested = true; };
}

bool ScreenInteractive::ExitRequested() const { return impl_->exit_requested; }

void ScreenInteractive::SetSuspendHooks(SuspendHooks hooks) {
  impl_->suspend_hooks = std::move(hooks);
}

int ScreenInteractive::dimx() const { return impl_->width; }
int ScreenInteractive::dimy() const { return impl_->height; }

const Screen& ScreenInteractive::LastFrame() const { return impl_->frame; }

}  // namespace tui
