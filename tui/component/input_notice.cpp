#include "tui/component/input_notice.h"

#include <csignal>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace tui {
namespace {

// A terminal that hangs up need not send a notice: every so many quiet passes (a second at
// the main loop's pace) the loop looks anyway.
constexpr int kQuietCallsBetweenLooks = 20;

volatile sig_atomic_t g_input_arrived = 0;
struct sigaction g_previous_action {};

void OnInput(int) { g_input_arrived = 1; }

// Notices can only reach a thread that neither ignores nor blocks them.
bool SignalCanArrive() {
  struct sigaction current {};
  sigaction(SIGIO, nullptr, &current);
  if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) {
    return false;
  }
  sigset_t blocked;
  return pthread_sigmask(SIG_BLOCK, nullptr, &blocked) == 0 && sigismember(&blocked, SIGIO) == 0;
}

// A file of our own on standard input's terminal, or -1.
int OpenOwnTerminalFile() {
  char name[256];
  if (ttyname_r(STDIN_FILENO, name, sizeof(name)) != 0) {
    return -1;
  }
  return open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Asks the kernel to signal this thread when `fd`'s terminal receives input.
bool SignalThisThreadOnInput(int fd) {
  f_owner_ex owner{F_OWNER_TID, gettid()};
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETOWN_EX, &owner) == 0 &&
         fcntl(fd, F_SETFL, flags | O_ASYNC) == 0;
}

}  // namespace

InputNotice::InputNotice() {
  if (!SignalCanArrive()) {
    return;
  }
  fd_ = OpenOwnTerminalFile();
  if (fd_ < 0) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = OnInput;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGIO, &action, &g_previous_action);
  if (!SignalThisThreadOnInput(fd_)) {
    close(fd_);
    fd_ = -1;
    sigaction(SIGIO, &g_previous_action, nullptr);
  }
}

InputNotice::~InputNotice() {
  if (fd_ < 0) {
    return;
  }
  // No notice is raised once the file is closed, and one raised before reaches the handler as
  // the call returns: the handler found at the start can come back safely.
  close(fd_);
  sigaction(SIGIO, &g_previous_action, nullptr);
}

bool InputNotice::TakeMayHaveInput() {
  if (fd_ < 0 || look_again_) {
    look_again_ = false;
    quiet_calls_ = 0;
    g_input_arrived = 0;
    return true;
  }
  // Cleared only when set: a notice that arrives meanwhile is for input that the read which
  // follows will find.
  if (g_input_arrived != 0) {
    g_input_arrived = 0;
    quiet_calls_ = 0;
    return true;
  }
  if (++quiet_calls_ >= kQuietCallsBetweenLooks) {
    quiet_calls_ = 0;
    return true;
  }
  return false;
}

}  // namespace tui
