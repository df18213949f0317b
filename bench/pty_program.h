#pragma once

// A program run on a pseudo-terminal of 80x24, as a user runs it; its output is read and kept
// (the tail of it) so that it never blocks on a full terminal.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

class PtyProgram {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts `arguments` with TERM=xterm-256color and `environment` set; an empty value unsets.
  PtyProgram(const std::vector<std::string>& arguments,
             const std::vector<std::pair<std::string, std::string>>& environment);
  // Kills the program if it still runs.
  ~PtyProgram();
  PtyProgram(const PtyProgram&) = delete;
  PtyProgram& operator=(const PtyProgram&) = delete;

  // Reads output for `duration`; true once `text` has been seen (then returns at once).
  bool ReadFor(Clock::duration duration, const std::string& text = "");
  // Types `bytes` on the terminal.
  void Type(const std::string& bytes);
  // User and system CPU seconds so far, from /proc; -1 when it cannot be read.
  double CpuSeconds() const;
  // Voluntary and involuntary context switches of all its threads so far, from /proc.
  long ContextSwitches() const;
  // Its peak resident memory so far in MB, from /proc.
  double PeakResidentMb() const;
  // Waits for the program to exit, reading its output; the seconds waited, or -1 after `limit`.
  double WaitForExit(Clock::duration limit);
  // Escape, then waits for the exit.
  void Quit();

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
};
