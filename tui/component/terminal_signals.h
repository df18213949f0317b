#pragma once

#include <csignal>

namespace tui {

// What the signal handlers noticed since the loop last looked.
struct SignalNews {
  // SIGINT, SIGTERM or SIGHUP arrived: quit as an exit request does.
  bool quit = false;
  // Ctrl-Z (SIGTSTP): give the terminal back and stop.
  bool suspend = false;
  // The process was continued after a stop: take the terminal again, repaint everything.
  bool continued = false;
  // SIGWINCH: the terminal changed size.
  bool resized = false;
};

// Installs the interface's signal handlers while it lives and puts the previous ones back
// after. The handlers only set flags that the loop reads, except on the paths where the
// process is about to die (a second quitting signal, a crash): there the terminal is restored
// and held standard error written out, with async-signal-safe calls only, before the signal
// takes its course. A signal ignored when the handlers are installed stays ignored.
class TerminalSignals {
 public:
  TerminalSignals();
  ~TerminalSignals();
  TerminalSignals(const TerminalSignals&) = delete;
  TerminalSignals& operator=(const TerminalSignals&) = delete;

  // Reads and clears the flags.
  SignalNews Take();
  // Stops the process as Ctrl-Z would have, and returns once it is continued.
  void StopProcess();
};

}  // namespace tui
