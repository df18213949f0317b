#include "tui/component/terminal_session.h"

#include <cerrno>
#include <string_view>

#include <poll.h>
#include <unistd.h>

namespace tui {
namespace {

// How long an ESC waits for the rest of a sequence. Terminals send a sequence in one write, so
// the rest is normally read together with it; this only covers sequences cut by a slow link.
// The main loop passes every 50 ms, so a lone Escape is seen at the pass after it was read.
constexpr std::chrono::milliseconds kEscapeWait{20};
// Reads per pass, so that a flood of input (a huge paste) cannot hold the frame back for long.
constexpr int kMaxReadsPerPass = 16;

enum class ReadResult { kNothing, kBytes, kGone };

ReadResult ReadWaiting(char* buffer, size_t size, ssize_t& length) {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  int ready = poll(&input, 1, 0);
  while (ready < 0 && errno == EINTR) {
    ready = poll(&input, 1, 0);
  }
  if (ready <= 0) {
    return ReadResult::kNothing;
  }
  if ((input.revents & POLLIN) == 0) {
    return ReadResult::kGone;
  }
  do {
    length = read(STDIN_FILENO, buffer, size);
  } while (length < 0 && errno == EINTR);
  if (length < 0 && errno == EAGAIN) {
    return ReadResult::kNothing;
  }
  return length > 0 ? ReadResult::kBytes : ReadResult::kGone;
}

}  // namespace

bool TerminalSession::HandleSignals(std::vector<Event>& out, const SuspendHooks& hooks) {
  const SignalNews news = signals_.Take();
  if (news.suspend) {
    Suspend(hooks);
  } else if (news.continued) {
    terminal_.Retake();
  }
  if (news.resized && terminal_.UpdateSize()) {
    out.push_back(Event::Custom);
  }
  return news.quit;
}

void TerminalSession::Suspend(const SuspendHooks& hooks) {
  if (hooks.stopping) {
    hooks.stopping();
  }
  terminal_.Release();
  stderr_capture_.End();
  signals_.StopProcess();
  stderr_capture_.Begin();
  terminal_.Retake();
  if (hooks.continued) {
    hooks.continued();
  }
}

bool TerminalSession::ReadInput(std::vector<Event>& out) {
  bool got_bytes = false;
  if (input_notice_.TakeMayHaveInput()) {
    char buffer[4096];
    bool drained = false;
    for (int reads = 0; reads < kMaxReadsPerPass && !drained; ++reads) {
      ssize_t length = 0;
      const ReadResult result = ReadWaiting(buffer, sizeof(buffer), length);
      if (result == ReadResult::kGone) {
        return false;
      }
      drained = result == ReadResult::kNothing;
      if (!drained) {
        parser_.Feed(std::string_view(buffer, static_cast<size_t>(length)), out);
        got_bytes = true;
      }
    }
    if (!drained) {
      input_notice_.LookAgain();
    }
  }
  const auto now = std::chrono::steady_clock::now();
  if (got_bytes) {
    last_input_ = now;
  } else if (parser_.HasPending() && now - last_input_ >= kEscapeWait) {
    parser_.Flush(out);
  }
  return true;
}

}  // namespace tui
