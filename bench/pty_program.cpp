#include "bench/pty_program.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_process.h"

namespace {

// The value after `key` in a /proc status file; 0 when absent.
long StatusValue(const std::string& path, const std::string& key) {
  std::ifstream status(path);
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) {
      return std::atol(line.c_str() + key.size());
    }
  }
  return 0;
}

}  // namespace

PtyProgram::PtyProgram(const std::vector<std::string>& arguments,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
  winsize size{};
  size.ws_col = 80;
  size.ws_row = 24;
  pid_ = forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ == 0) {
    setenv("TERM", "xterm-256color", 1);
    for (const auto& [name, value] : environment) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

PtyProgram::~PtyProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) {
    close(master_);
  }
}

bool PtyProgram::ReadFor(Clock::duration duration, const std::string& text) {
  const auto end = Clock::now() + duration;
  while (Clock::now() < end) {
    if (!text.empty() && output_.find(text) != std::string::npos) {
      return true;
    }
    pollfd descriptor{master_, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (poll(&descriptor, 1, static_cast<int>(std::max<long>(left.count(), 1))) > 0) {
      char buffer[65536];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) {
        return false;
      }
      output_.append(buffer, static_cast<size_t>(got));
      // Only the tail is needed to find a text.
      if (output_.size() > (1 << 20)) {
        output_.erase(0, output_.size() - 4096);
      }
    }
  }
  return !text.empty() && output_.find(text) != std::string::npos;
}

void PtyProgram::Type(const std::string& bytes) {
  static_cast<void>(write(master_, bytes.data(), bytes.size()));
}

double PtyProgram::CpuSeconds() const { return CpuSecondsOf(pid_); }

long PtyProgram::ContextSwitches() const {
  long switches = 0;
  std::error_code error;
  const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    const std::string status = (task.path() / "status").string();
    switches += StatusValue(status, "voluntary_ctxt_switches:") +
                StatusValue(status, "nonvoluntary_ctxt_switches:");
  }
  return switches;
}

double PtyProgram::PeakResidentMb() const {
  return static_cast<double>(StatusValue("/proc/" + std::to_string(pid_) + "/status", "VmHWM:")) /
         1024.0;
}

double PtyProgram::WaitForExit(Clock::duration limit) {
  const auto start = Clock::now();
  while (Clock::now() - start < limit) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return std::chrono::duration<double>(Clock::now() - start).count();
    }
    ReadFor(std::chrono::milliseconds(1));
  }
  return -1;
}

void PtyProgram::Quit() {
  Type("\x1b");
  WaitForExit(std::chrono::seconds(5));
}
