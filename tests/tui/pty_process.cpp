#include "tests/tui/pty_process.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tui_test {

PtyProcess::PtyProcess(int width, int height, const std::function<int()>& body) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(width);
  size.ws_row = static_cast<unsigned short>(height);
  pid_ = forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ < 0) {
    throw std::runtime_error("forkpty failed");
  }
  if (pid_ == 0) {
    setenv("TERM", "xterm-256color", 1);
    unsetenv("LINES");
    unsetenv("COLUMNS");
    _exit(body());
  }
}

PtyProcess::~PtyProcess() {
  if (!status_.has_value()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  close(master_);
}

void PtyProcess::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(master_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

void PtyProcess::Resize(int width, int height) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(width);
  size.ws_row = static_cast<unsigned short>(height);
  ioctl(master_, TIOCSWINSZ, &size);
}

void PtyProcess::Signal(int signal_number) { kill(pid_, signal_number); }

int PtyProcess::Drain(std::chrono::milliseconds wait) {
  pollfd readable{master_, POLLIN, 0};
  if (poll(&readable, 1, static_cast<int>(wait.count())) <= 0) {
    return 0;
  }
  char buffer[4096];
  const ssize_t got = read(master_, buffer, sizeof(buffer));
  if (got > 0) {
    output_.append(buffer, static_cast<size_t>(got));
    return static_cast<int>(got);
  }
  // EIO once every descriptor of the child's side is closed.
  return got < 0 && errno == EINTR ? 0 : -1;
}

bool PtyProcess::WaitForOutput(std::string_view text, size_t from,
                               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (output_.size() > from && output_.find(text, from) != std::string::npos) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline || Drain(std::chrono::milliseconds(20)) < 0) {
      return output_.size() > from && output_.find(text, from) != std::string::npos;
    }
  }
}

std::optional<int> PtyProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_.has_value()) {
    Drain(std::chrono::milliseconds(20));
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      while (Drain(std::chrono::milliseconds(0)) > 0) {
      }
      status_ = status;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    }
  }
  return status_;
}

}  // namespace tui_test
