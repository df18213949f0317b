// Cost of a whole RunOnce on a real terminal (a pseudo-terminal made with forkpty), as the
// program's main loop calls it: post Event::Custom, RunOnce. Measured in the child for an idle
// frame (nothing on screen changes) built anew or handed back as the element built before (as
// the program's screens do while nothing they show changes), and for a frame in which one row
// changes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tui/component/component.h"
#include "tui/component/loop.h"
#include "tui/component/screen_interactive.h"

namespace {

constexpr int kPasses = 5000;

tui::Element MainScreenLike(int changing_row) {
  tui::Elements rows;
  for (int row = 0; row < 15; ++row) {
    tui::Element line = tui::text("listing row " + std::to_string(row));
    if (row == changing_row % 15) {
      line |= tui::inverted;
    }
    rows.push_back(std::move(line));
  }
  return tui::vbox(
             {tui::text("Now playing: a track | an artist (2024)") | tui::center, tui::separator(),
              tui::hbox({tui::text("01:23"), tui::gauge(0.42F) | tui::flex, tui::text("04:56")}),
              tui::separator(), tui::text("Brevalo") | tui::center, tui::separator(),
              tui::text("FILE BROWSER (/music)") | tui::center,
              tui::vbox(std::move(rows)) | tui::flex}) |
         tui::border;
}

double MicrosecondsPerPass(tui::ScreenInteractive& screen, tui::Loop& loop, int& changing_row,
                           bool change) {
  const auto start = std::chrono::steady_clock::now();
  for (int pass = 0; pass < kPasses; ++pass) {
    if (change) {
      ++changing_row;
    }
    screen.PostEvent(tui::Event::Custom);
    loop.RunOnce();
  }
  const std::chrono::duration<double, std::micro> elapsed =
      std::chrono::steady_clock::now() - start;
  return elapsed.count() / kPasses;
}

int RunChild() {
  setenv("TERM", "xterm-256color", 1);
  tui::ScreenInteractive screen = tui::ScreenInteractive::Fullscreen();
  int changing_row = 0;
  bool keep = false;
  tui::Element kept;
  tui::Component root = tui::Renderer([&] {
    if (!keep || kept == nullptr) {
      kept = MainScreenLike(changing_row);
    }
    return kept;
  });
  double idle = 0;
  double kept_idle = 0;
  double changed = 0;
  {
    tui::Loop loop(&screen, root);
    MicrosecondsPerPass(screen, loop, changing_row, false);
    idle = MicrosecondsPerPass(screen, loop, changing_row, false);
    keep = true;
    kept_idle = MicrosecondsPerPass(screen, loop, changing_row, false);
    keep = false;
    changed = MicrosecondsPerPass(screen, loop, changing_row, true);
  }
  std::printf("RESULT %dx%d terminal, %d passes of PostEvent(Custom) + RunOnce:\n", screen.dimx(),
              screen.dimy(), kPasses);
  std::printf("  idle (nothing changes):     %.2f us per pass\n", idle);
  std::printf("  idle, the same element:     %.2f us per pass\n", kept_idle);
  std::printf("  one highlighted row moves:  %.2f us per pass (output to the pty included)\n",
              changed);
  std::printf("  idle at 20 passes a second: %.4f %% of a core (%.4f %% with the same element)\n",
              idle * 20 / 1e6 * 100, kept_idle * 20 / 1e6 * 100);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main() {
  winsize size{};
  size.ws_col = 80;
  size.ws_row = 24;
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child < 0) {
    std::perror("forkpty");
    return 1;
  }
  if (child == 0) {
    _exit(RunChild());
  }
  // Drain the child's terminal, so that it never blocks on a full buffer; print its results.
  std::string output;
  char buffer[65536];
  for (;;) {
    pollfd readable{master, POLLIN, 0};
    if (poll(&readable, 1, 1000) <= 0) {
      continue;
    }
    const ssize_t got = read(master, buffer, sizeof(buffer));
    if (got <= 0) {
      break;
    }
    output.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  waitpid(child, &status, 0);
  const size_t result = output.find("RESULT ");
  if (result == std::string::npos) {
    std::fprintf(stderr, "the child printed no result\n");
    return 1;
  }
  std::fputs(output.c_str() + result + 7, stdout);
  return 0;
}
