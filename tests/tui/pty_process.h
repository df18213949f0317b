#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace tui_test {

// A child process running `body` on a fresh pseudo-terminal (TERM=xterm-256color) of the given
// size, as if in a terminal window: the test writes its keys and reads everything it draws.
// The child ends with _exit(body()). Killed, by its pid, if still running at destruction.
class PtyProcess {
 public:
  PtyProcess(int width, int height, const std::function<int()>& body);
  ~PtyProcess();
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  void Write(std::string_view bytes);
  void Resize(int width, int height);
  void Signal(int signal_number);

  // Reads output until `text` appears at or after byte `from`; false after `timeout`.
  bool WaitForOutput(std::string_view text, size_t from = 0,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Everything the child has written so far.
  const std::string& Output() const { return output_; }
  // Waits for the child to end, reading its output meanwhile; its wait status, or nullopt.
  std::optional<int> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  // Reads what is available, waiting at most `wait`: the number of bytes read, 0 when nothing
  // came, -1 once the child's side of the terminal is closed.
  int Drain(std::chrono::milliseconds wait);

  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
  std::optional<int> status_;
};

}  // namespace tui_test
