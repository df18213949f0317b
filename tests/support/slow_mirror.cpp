#include "tests/support/slow_mirror.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/media.h"
#include "tests/support/process.h"

namespace test_support {
namespace {

using std::chrono::milliseconds;

constexpr char kDaemonPath[] = BREVALO_SLOW_MIRROR_PATH;

// True once `folder` is on another file system than its parent: the mirror is mounted there.
bool IsMountPoint(const std::filesystem::path& folder) {
  struct stat here {};
  struct stat parent {};
  return stat(folder.c_str(), &here) == 0 && stat(folder.parent_path().c_str(), &parent) == 0 &&
         here.st_dev != parent.st_dev;
}

// True while the process runs; reaps it once it has ended.
bool StillRunning(pid_t& pid) {
  if (pid > 0 && waitpid(pid, nullptr, WNOHANG) != 0) {
    pid = -1;
  }
  return pid > 0;
}

bool PollWhile(const std::function<bool()>& waiting, milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (waiting()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

std::string ProbeSlowMirror() {
  if (kDaemonPath[0] == '\0') {
    return "the mirror was not built (libfuse3-dev was missing)";
  }
  const int fuse = open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse < 0) {
    return "/dev/fuse cannot be opened";
  }
  close(fuse);
  if (RunProgram({"fusermount3", "-V"}) != 0) {
    return "fusermount3 (package fuse3) is missing";
  }
  TempDir empty;
  SlowMirror probe(empty.path(), ReadPace{});
  return probe.ok() ? "" : "mounting was refused: " + probe.Errors();
}

}  // namespace

ReadPace PaceToRead(int64_t bytes, double seconds, milliseconds round_trip) {
  const double transfer = seconds - std::chrono::duration<double>(round_trip).count();
  return {round_trip, transfer > 0 ? static_cast<double>(bytes) / transfer : 0};
}

double SecondsToRead(int64_t bytes, const ReadPace& pace) {
  const double round_trip = std::chrono::duration<double>(pace.round_trip).count();
  return round_trip +
         (pace.bytes_per_second > 0 ? static_cast<double>(bytes) / pace.bytes_per_second : 0);
}

std::string WhyNoSlowMirror() {
  static const std::string why = ProbeSlowMirror();
  return why;
}

SlowMirror::SlowMirror(const std::filesystem::path& source, const ReadPace& pace,
                       const MirrorFaults& faults, const std::filesystem::path& mount_point)
    : source_(source), mount_point_(mount_point.empty() ? folder_.path() / "mirror" : mount_point) {
  std::filesystem::create_directories(mount_point_);
  std::ostringstream rate;
  rate << pace.bytes_per_second;
  std::vector<std::string> arguments = {kDaemonPath,
                                        std::filesystem::absolute(source).string(),
                                        mount_point_.string(),
                                        std::to_string(pace.round_trip.count()),
                                        rate.str(),
                                        folder_ / "reads.log"};
  for (const auto& [name, bytes] : faults.fail_after) {
    arguments.insert(arguments.end(), {"--fail-after", std::to_string(bytes), name});
  }
  for (const std::string& name : faults.never_answer) {
    arguments.insert(arguments.end(), {"--never-answer", name});
  }
  daemon_ = SpawnProgram(arguments, {}, folder_ / "daemon.out", folder_ / "daemon.errors");
  mounted_ = daemon_ > 0 &&
             PollWhile([this] { return StillRunning(daemon_) && !IsMountPoint(mount_point_); },
                       milliseconds(10000)) &&
             IsMountPoint(mount_point_);
}

SlowMirror::~SlowMirror() { Unmount(); }

void SlowMirror::Unmount() {
  if (IsMountPoint(mount_point_) &&
      RunProgram({"fusermount3", "-u", "-q", mount_point_.string()}) != 0) {
    // A reader still holds a file: a program killed mid-read, reaped a moment later, or a read
    // held unanswered, which holds its file for as long as the mirror's process runs.
    RunProgram({"fusermount3", "-u", "-z", "-q", mount_point_.string()});
  }
  // After a plain unmount the process ends by itself; after a detached one, only once told to.
  if (StillRunning(daemon_)) {
    kill(daemon_, SIGTERM);
  }
  if (!PollWhile([this] { return StillRunning(daemon_); }, milliseconds(3000))) {
    kill(daemon_, SIGKILL);
    WaitForProgram(daemon_);
  }
  daemon_ = -1;
}

std::string SlowMirror::Errors() const { return ReadFile(folder_.path() / "daemon.errors"); }

int64_t SlowMirror::Sum(const std::string& event, const std::string& name) const {
  std::istringstream log(ReadFile(folder_.path() / "reads.log"));
  const std::string prefix = event + " /" + name;
  int64_t sum = 0;
  for (std::string line; std::getline(log, line);) {
    if (line == prefix) {
      sum += 1;
    } else if (line.compare(0, prefix.size() + 1, prefix + " ") == 0) {
      sum += std::stoll(line.substr(prefix.size() + 1));
    }
  }
  return sum;
}

int SlowMirror::Opens(const std::string& name) const { return static_cast<int>(Sum("open", name)); }

int SlowMirror::Releases(const std::string& name) const {
  return static_cast<int>(Sum("release", name));
}

int64_t SlowMirror::BytesServed(const std::string& name) const { return Sum("served", name); }

int SlowMirror::Unanswered(const std::string& name) const {
  return static_cast<int>(Sum("unanswered", name));
}

int SlowMirror::Interrupted(const std::string& name) const {
  return static_cast<int>(Sum("interrupted", name));
}

bool SlowMirror::ReadFinished(const std::string& name) const {
  std::error_code error;
  const auto size = std::filesystem::file_size(source_ / name, error);
  return Sum("failed", name) > 0 || (!error && BytesServed(name) >= static_cast<int64_t>(size));
}

}  // namespace test_support
