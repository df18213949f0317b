#pragma once

namespace tui {

// Tells the loop when the terminal may hold input, so that a pass without any makes no system
// call: asking the terminal costs more than the rest of an idle pass. The kernel signals
// (SIGIO) the loop's thread when input arrives on the terminal; the notice listens on a file
// of its own, opened on standard input's terminal, so that nothing it sets is shared with the
// shell's, and nothing outlives the process. Where that cannot be set up, every pass looks.
class InputNotice {
 public:
  // On the thread that runs the loop.
  InputNotice();
  ~InputNotice();
  InputNotice(const InputNotice&) = delete;
  InputNotice& operator=(const InputNotice&) = delete;

  // True when the terminal may hold input: a notice arrived since the last call, or there are
  // no notices, or it has not been looked at for a while (a terminal that hangs up need not
  // send one). Clears the notice, so one that arrives after the call counts for the next.
  bool TakeMayHaveInput();
  // Input was left unread (a flood is read over several passes): look again next pass.
  void LookAgain() { look_again_ = true; }

 private:
  int fd_ = -1;
  bool look_again_ = true;
  int quiet_calls_ = 0;
};

}  // namespace tui
