#include "tui/component/terminal_signals.h"

#include <array>
#include <cstdlib>
#include <vector>

#include <signal.h>

#include "tui/component/stderr_capture.h"
#include "tui/screen/terminal.h"

namespace tui {
namespace {

constexpr std::array kQuitSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr std::array kFatalSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT, SIGSYS};
constexpr std::array kNewsSignals = {SIGTSTP, SIGCONT, SIGWINCH};
constexpr int kMaxSignal = 65;

// Set by the handlers, cleared by TerminalSignals::Take on the loop's thread.
volatile sig_atomic_t g_quit = 0;
volatile sig_atomic_t g_suspend = 0;
volatile sig_atomic_t g_continued = 0;
volatile sig_atomic_t g_resized = 0;

// The dispositions found at install time, put back at uninstall and before a fatal signal is
// passed on. Written only while the handlers are not installed.
struct sigaction g_previous[kMaxSignal];

// Room for the crash handler to run when the stack itself has overflowed.
alignas(16) char g_alternate_stack[64 * 1024];
bool g_own_alternate_stack = false;

// The process is about to die of `signal_number`: give the terminal and standard error back,
// then let the signal take its course: `then` is the disposition it gets.
void LeaveWith(int signal_number, const siginfo_t* info, const struct sigaction& then) {
  RestoreTerminalFromSignal();
  ReleaseStderrFromSignal();
  sigaction(signal_number, &then, nullptr);
  // A fault raised by the hardware recurs when the handler returns; one sent by a process
  // (kill, raise, abort) has to be sent again. It stays blocked until the handler returns.
  if (info == nullptr || info->si_code <= 0) {
    raise(signal_number);
  }
}

// The second quitting signal ends the process whatever handler was there before us: another
// library's handler (an audio library's quit request, say) would not.
void OnQuit(int signal_number, siginfo_t* info, void*) {
  if (g_quit != 0) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    LeaveWith(signal_number, info, default_action);
    return;
  }
  g_quit = 1;
}

// A crash goes on to the handler found at install time, so a sanitizer still reports it.
void OnFatal(int signal_number, siginfo_t* info, void*) {
  LeaveWith(signal_number, info, g_previous[signal_number]);
}

void OnNews(int signal_number) {
  if (signal_number == SIGTSTP) {
    g_suspend = 1;
  } else if (signal_number == SIGCONT) {
    g_continued = 1;
  } else if (signal_number == SIGWINCH) {
    g_resized = 1;
  }
}

void Install(int signal_number, void (*handler)(int, siginfo_t*, void*)) {
  struct sigaction action {};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, &g_previous[signal_number]);
}

void InstallNews(int signal_number) {
  struct sigaction action {};
  action.sa_handler = OnNews;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, &g_previous[signal_number]);
}

bool IsIgnored(int signal_number) {
  struct sigaction current {};
  sigaction(signal_number, nullptr, &current);
  return (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
}

void SetUpAlternateStack() {
  stack_t current{};
  sigaltstack(nullptr, &current);
  if ((current.ss_flags & SS_DISABLE) == 0) {
    return;
  }
  stack_t stack{};
  stack.ss_sp = g_alternate_stack;
  stack.ss_size = sizeof(g_alternate_stack);
  g_own_alternate_stack = sigaltstack(&stack, nullptr) == 0;
}

void TearDownAlternateStack() {
  if (g_own_alternate_stack) {
    stack_t disabled{};
    disabled.ss_flags = SS_DISABLE;
    sigaltstack(&disabled, nullptr);
    g_own_alternate_stack = false;
  }
}

// Whatever path ends the process, exit() without the teardown included, the terminal comes
// back.
void RestoreAtExit() {
  RestoreTerminalFromSignal();
  ReleaseStderrFromSignal();
}

std::vector<int>& InstalledSignals() {
  static std::vector<int> installed;
  return installed;
}

}  // namespace

TerminalSignals::TerminalSignals() {
  static const bool registered = std::atexit(RestoreAtExit) == 0;
  static_cast<void>(registered);
  g_quit = 0;
  g_suspend = 0;
  g_continued = 0;
  g_resized = 0;
  SetUpAlternateStack();
  std::vector<int>& installed = InstalledSignals();
  installed.clear();
  for (const int signal_number : kQuitSignals) {
    if (!IsIgnored(signal_number)) {
      Install(signal_number, OnQuit);
      installed.push_back(signal_number);
    }
  }
  for (const int signal_number : kFatalSignals) {
    Install(signal_number, OnFatal);
    installed.push_back(signal_number);
  }
  for (const int signal_number : kNewsSignals) {
    if (!IsIgnored(signal_number)) {
      InstallNews(signal_number);
      installed.push_back(signal_number);
    }
  }
}

TerminalSignals::~TerminalSignals() {
  for (const int signal_number : InstalledSignals()) {
    sigaction(signal_number, &g_previous[signal_number], nullptr);
  }
  InstalledSignals().clear();
  TearDownAlternateStack();
}

SignalNews TerminalSignals::Take() {
  SignalNews news;
  news.quit = g_quit != 0;
  if (g_suspend != 0) {
    g_suspend = 0;
    news.suspend = true;
  }
  if (g_continued != 0) {
    g_continued = 0;
    news.continued = true;
  }
  if (g_resized != 0) {
    g_resized = 0;
    news.resized = true;
  }
  return news;
}

void TerminalSignals::StopProcess() {
  struct sigaction ours {};
  struct sigaction stop {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTSTP, &stop, &ours);
  raise(SIGTSTP);
  // Here once continued (or at once, when the process group may not stop).
  sigaction(SIGTSTP, &ours, nullptr);
}

}  // namespace tui
