#include "tests/support/tmux.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace test_support {
namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return output;
  }
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    output.append(buffer, count);
  }
  pclose(pipe);
  return output;
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace

bool HaveTmux() { return std::system("tmux -V >/dev/null 2>&1") == 0; }

bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string LineWith(const std::vector<std::string>& screen, const std::string& text) {
  for (const std::string& line : screen) {
    if (line.find(text) != std::string::npos) {
      return line;
    }
  }
  return "";
}

std::string ProgramPath() { return BREVALO_PROGRAM_PATH; }

namespace {

// Drops the SGR sequences of a styled capture; true in `inverse` when one turned inverse video on.
std::string PlainText(const std::string& styled, bool* inverse) {
  std::string plain;
  for (size_t i = 0; i < styled.size();) {
    if (styled.compare(i, 2, "\x1b[") != 0) {
      plain += styled[i++];
      continue;
    }
    const size_t end = styled.find('m', i);
    if (end == std::string::npos) {
      break;
    }
    const std::string parameters = ";" + styled.substr(i + 2, end - i - 2) + ";";
    if (parameters.find(";7;") != std::string::npos) {
      *inverse = true;
    }
    i = end + 1;
  }
  return plain;
}

}  // namespace

std::string HighlightedRow(TmuxSession& session) {
  for (const std::string& line : session.StyledScreen()) {
    bool inverse = false;
    const std::string plain = PlainText(line, &inverse);
    if (inverse) {
      return plain;
    }
  }
  return "";
}

std::string ScreenHoldingAll(TmuxSession& session, const std::vector<std::string>& texts,
                             std::chrono::milliseconds timeout) {
  std::string screen;
  PollUntil(
      [&] {
        screen = session.ScreenText();
        for (const std::string& text : texts) {
          if (screen.find(text) == std::string::npos) {
            return false;
          }
        }
        return true;
      },
      timeout);
  return screen;
}

bool HighlightListingRow(TmuxSession& session, const std::string& name,
                         std::chrono::milliseconds timeout) {
  // Waited for in the listing itself: the name may show first elsewhere (the now-playing line),
  // or in a frame still being drawn.
  size_t heading = 0;
  size_t row = 0;
  const bool listed = PollUntil(
      [&] {
        const std::vector<std::string> screen = session.Screen();
        heading = 0;
        while (heading < screen.size() &&
               screen[heading].find("FILE BROWSER") == std::string::npos) {
          ++heading;
        }
        row = heading + 1;
        while (row < screen.size() && screen[row].find(name) == std::string::npos) {
          ++row;
        }
        return row < screen.size();
      },
      timeout);
  if (!listed) {
    ADD_FAILURE() << "no row of the listing holds " << name << ":\n" << session.ScreenText();
    return false;
  }
  std::vector<std::string> keys = {"Home"};
  keys.insert(keys.end(), row - heading - 1, "Down");
  session.SendKeys(keys);
  if (!PollUntil([&] { return HighlightedRow(session).find(name) != std::string::npos; },
                 timeout)) {
    ADD_FAILURE() << "the highlight did not reach " << name << ":\n" << session.ScreenText();
    return false;
  }
  return true;
}

TmuxSession::TmuxSession(const std::string& command,
                         const std::map<std::string, std::string>& environment, int width,
                         int height) {
  static std::atomic<int> sessions{0};
  socket_ = "brevalo-test-" + std::to_string(getpid()) + "-" + std::to_string(sessions++);
  std::string pattern = (std::filesystem::temp_directory_path() / "brevalo-tmux-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  work_dir_ = pattern;

  std::string run = "#!/bin/sh\necho $$ > " + Quote(work_dir_ + "/pid") + "\nexec env";
  for (const auto& [name, value] : environment) {
    run += " " + Quote(name + "=" + value);
  }
  run += " " + command + "\n";
  WriteFile(work_dir_ + "/run.sh", run);

  // The program starts only once the pane's output is being recorded.
  const std::string w = Quote(work_dir_);
  WriteFile(work_dir_ + "/launch.sh", "#!/bin/sh\nwhile [ ! -f " + w +
                                          "/go ]; do sleep 0.01; done\n"
                                          "stty -g > " +
                                          w +
                                          "/stty_before\n"
                                          "sh " +
                                          w + "/run.sh\ns=$?\necho $s > " + w +
                                          "/status.tmp\n"
                                          "stty -g > " +
                                          w + "/stty_after\nmv " + w + "/status.tmp " + w +
                                          "/status\n"
                                          "printf '\\nEXIT=%s\\n' $s\nexec sleep 86400\n");
  WriteFile(work_dir_ + "/tmux.conf",
            "set -g default-terminal tmux-256color\n"
            "set -g status off\nset -g history-limit 0\n");

  Tmux("-f " + Quote(work_dir_ + "/tmux.conf") + " new-session -d -s main -x " +
       std::to_string(width) + " -y " + std::to_string(height) + " " +
       Quote("sh " + w + "/launch.sh"));
  Tmux("pipe-pane -o -t main " + Quote("cat >> " + w + "/output"));
  WriteFile(work_dir_ + "/go", "");
}

TmuxSession::~TmuxSession() {
  const int pid = ProgramPid();
  if (pid > 0 && !std::filesystem::exists(work_dir_ + "/status")) {
    kill(pid, SIGKILL);
  }
  Tmux("kill-server");
  std::error_code error;
  std::filesystem::remove_all(work_dir_, error);
}

std::string TmuxSession::Tmux(const std::string& arguments) {
  return RunCommand("tmux -L " + socket_ + " " + arguments + " 2>/dev/null");
}

void TmuxSession::SendKeys(const std::vector<std::string>& keys) {
  for (const std::string& key : keys) {
    Tmux("send-keys -t main " + Quote(key));
  }
}

void TmuxSession::SendBytes(const std::string& bytes) {
  Tmux("send-keys -l -t main " + Quote(bytes));
}

void TmuxSession::Resize(int width, int height) {
  Tmux("resize-window -t main -x " + std::to_string(width) + " -y " + std::to_string(height));
  screen_.valid = styled_screen_.valid = false;
}

void TmuxSession::Signal(int signal_number) {
  const int pid = ProgramPid();
  if (pid > 0) {
    kill(pid, signal_number);
  }
}

const std::string& TmuxSession::Captured(const std::string& options, Capture& capture) {
  // The size is read first: output that comes during the capture makes the next call ask again.
  std::error_code error;
  const std::uintmax_t output_size = std::filesystem::file_size(work_dir_ + "/output", error);
  const auto now = std::chrono::steady_clock::now();
  if (!capture.valid || error || output_size != capture.output_size ||
      now - capture.at > std::chrono::milliseconds(200)) {
    capture.text = Tmux("capture-pane -p " + options + "-t main");
    capture.output_size = output_size;
    capture.at = now;
    capture.valid = !error;
  }
  return capture.text;
}

std::vector<std::string> TmuxSession::Screen() {
  std::vector<std::string> lines;
  std::istringstream text(ScreenText());
  for (std::string line; std::getline(text, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> TmuxSession::StyledScreen() {
  std::vector<std::string> lines;
  std::istringstream text(Captured("-e ", styled_screen_));
  for (std::string line; std::getline(text, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::string TmuxSession::ScreenText() { return Captured("", screen_); }

bool TmuxSession::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
  return PollUntil([&] { return ScreenText().find(text) != std::string::npos; }, timeout);
}

bool TmuxSession::WaitUntilGone(const std::string& text, std::chrono::milliseconds timeout) {
  return PollUntil([&] { return ScreenText().find(text) == std::string::npos; }, timeout);
}

std::optional<int> TmuxSession::WaitForExit(std::chrono::milliseconds timeout) {
  const std::string status_file = work_dir_ + "/status";
  if (!PollUntil([&] { return std::filesystem::exists(status_file); }, timeout)) {
    return std::nullopt;
  }
  // The pane's closing lines follow the status file by a moment.
  WaitFor("EXIT=", std::chrono::seconds(5));
  return std::stoi(ReadFile(status_file));
}

std::string TmuxSession::PaneFormat(const std::string& format) {
  return Trim(Tmux("display-message -p -t main " + Quote(format)));
}

std::string TmuxSession::OutputBytes() { return ReadFile(work_dir_ + "/output"); }

int TmuxSession::ProgramPid() {
  const std::string pid = Trim(ReadFile(work_dir_ + "/pid"));
  return pid.empty() ? -1 : std::stoi(pid);
}

std::string TmuxSession::SttyBefore() { return Trim(ReadFile(work_dir_ + "/stty_before")); }

std::string TmuxSession::SttyAfter() { return Trim(ReadFile(work_dir_ + "/stty_after")); }

void TmuxSession::KillPane() {
  Tmux("kill-pane -t main");
  screen_.valid = styled_screen_.valid = false;
}

void TmuxSession::KillServer() {
  Tmux("kill-server");
  screen_.valid = styled_screen_.valid = false;
}

}  // namespace test_support
