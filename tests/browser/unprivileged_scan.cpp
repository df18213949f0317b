#include "tests/browser/unprivileged_scan.h"

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "browser/directory_listing.h"

namespace browser_test {
namespace {

constexpr uid_t kNobody = 65534;
constexpr char kRowsTag = 'R';
constexpr char kSkipTag = 'S';

std::string StillReadable(const std::string& locked) {
  return locked + " is still readable: permission bits are not enforced here";
}

// Fields separated by NUL bytes, which no file name holds.
std::string Serialize(const std::vector<FileEntry>& rows) {
  std::string out(1, kRowsTag);
  for (const FileEntry& row : rows) {
    out += row.label + '\0' + row.path + '\0' + (row.is_directory ? '1' : '0');
  }
  return out;
}

std::vector<FileEntry> Deserialize(const std::string& in) {
  std::vector<FileEntry> rows;
  size_t at = 1;
  while (at < in.size()) {
    const size_t label_end = in.find('\0', at);
    const size_t path_end = in.find('\0', label_end + 1);
    rows.push_back({in.substr(at, label_end - at),
                    in.substr(label_end + 1, path_end - label_end - 1), in[path_end + 1] == '1'});
    at = path_end + 2;
  }
  return rows;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t written = write(fd, data.data() + done, data.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string data;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return data;
    }
    data.append(buffer, static_cast<size_t>(got));
  }
}

// Runs in the child: never returns.
[[noreturn]] void ScanAsNobody(int fd, const std::string& dir, const std::string& locked) {
  std::string message;
  if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
      setresuid(kNobody, kNobody, kNobody) != 0) {
    message = std::string(1, kSkipTag) + "cannot drop to uid 65534: " + std::strerror(errno);
  } else if (access(locked.c_str(), R_OK) == 0) {
    message = std::string(1, kSkipTag) + StillReadable(locked);
  } else {
    message = Serialize(ScanDirectory(dir));
  }
  _exit(WriteAll(fd, message) ? 0 : 1);
}

UnprivilegedScan ScanInChild(const std::string& dir, const std::string& locked) {
  int fds[2];
  if (pipe(fds) != 0) {
    return {{}, std::string("pipe failed: ") + std::strerror(errno)};
  }
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return {{}, std::string("fork failed: ") + std::strerror(errno)};
  }
  if (child == 0) {
    close(fds[0]);
    ScanAsNobody(fds[1], dir, locked);
  }
  close(fds[1]);
  const std::string reply = ReadAll(fds[0]);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || reply.empty()) {
    return {{}, "the unprivileged child did not report back"};
  }
  if (reply[0] == kSkipTag) {
    return {{}, reply.substr(1)};
  }
  return {Deserialize(reply), ""};
}

}  // namespace

UnprivilegedScan ScanWithoutPrivileges(const std::string& dir, const std::string& locked) {
  if (geteuid() == 0) {
    return ScanInChild(dir, locked);
  }
  if (access(locked.c_str(), R_OK) == 0) {
    return {{}, StillReadable(locked)};
  }
  return {ScanDirectory(dir), ""};
}

}  // namespace browser_test
