// A read-only FUSE mirror of a folder whose reads take a set time, as a share or a disk that
// wakes up slowly does: the first read of each open file waits a round trip, and every read
// then takes its bytes at a set rate (the kernel asks for up to 1 MiB at a time). Files are
// opened with direct_io, so that the page cache never answers in the mirror's place. A read
// whose reader's process is ending ends at once, as a disk's read would have. The tests
// start it through SlowMirror (tests/support/slow_mirror.h), which also reads its log.
//
// Usage: slow_mirror SOURCE MOUNTPOINT ROUND_TRIP_MS BYTES_PER_SECOND LOG [FAILING_NAME]
// A BYTES_PER_SECOND of 0 reads at the source's own pace. Reads of the file named FAILING_NAME
// (a name in SOURCE) take their time, then fail with EIO. The log gets one line per event,
// "open NAME", "served NAME BYTES", "failed NAME", "interrupted NAME" or "release NAME", written
// as it happens.

#define FUSE_USE_VERSION 31

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Settings {
  std::string source;
  std::chrono::milliseconds round_trip{0};
  double bytes_per_second = 0;
  std::string failing_name;  // "/NAME", as the mirror's paths are.
  int log_fd = -1;
};

Settings g_settings;

// One open file of the mirror.
struct OpenFile {
  int fd = -1;
  std::string name;
  std::atomic<bool> waited_round_trip{false};
};

std::string SourcePath(const char* path) { return g_settings.source + path; }

void Log(const std::string& event, const std::string& name, int64_t bytes = -1) {
  std::string line = event + " " + name;
  if (bytes >= 0) {
    line += " " + std::to_string(bytes);
  }
  line += "\n";
  // One write per line on an O_APPEND descriptor: lines from several threads never interleave.
  if (write(g_settings.log_fd, line.data(), line.size()) < 0) {
    std::perror("slow_mirror: log");
  }
}

// True when the thread `reader` is gone or has SIGKILL pending: its process is ending (killed, or
// another of its threads called exit), which a read on a disk never holds up. Any other signal
// leaves the read to finish, as it does there.
bool ReaderIsEnding(pid_t reader) {
  std::FILE* status = std::fopen(("/proc/" + std::to_string(reader) + "/status").c_str(), "r");
  if (status == nullptr) {
    return true;
  }
  constexpr unsigned long long kKill = 1ULL << (SIGKILL - 1);
  bool ending = false;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    unsigned long long pending = 0;
    if (std::sscanf(line, "SigPnd: %llx", &pending) == 1 ||
        std::sscanf(line, "ShdPnd: %llx", &pending) == 1) {
      ending = ending || (pending & kKill) != 0;
    }
  }
  std::fclose(status);
  return ending;
}

// Sleeps for `wait` in short steps. Stops early, false, once the reader's process is ending (the
// kernel holds that process until the read is answered) or the mirror is being unmounted.
bool Pace(std::chrono::duration<double> wait) {
  const auto until = std::chrono::steady_clock::now() + wait;
  const fuse_context* context = fuse_get_context();
  fuse_session* session = fuse_get_session(context->fuse);
  while (std::chrono::steady_clock::now() < until) {
    if ((fuse_interrupted() != 0 && ReaderIsEnding(context->pid)) ||
        fuse_session_exited(session) != 0) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void* Init(fuse_conn_info*, fuse_config* config) {
  config->direct_io = 1;
  config->kernel_cache = 0;
  return nullptr;
}

int GetAttributes(const char* path, struct stat* attributes, fuse_file_info*) {
  if (lstat(SourcePath(path).c_str(), attributes) != 0) {
    return -errno;
  }
  attributes->st_mode &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
  return 0;
}

int ReadDirectory(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                  fuse_readdir_flags) {
  DIR* directory = opendir(SourcePath(path).c_str());
  if (directory == nullptr) {
    return -errno;
  }
  while (const dirent* entry = readdir(directory)) {
    if (fill(buffer, entry->d_name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) {
      break;
    }
  }
  closedir(directory);
  return 0;
}

int Open(const char* path, fuse_file_info* info) {
  if ((info->flags & O_ACCMODE) != O_RDONLY) {
    return -EROFS;
  }
  const int fd = open(SourcePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return -errno;
  }
  auto* file = new OpenFile;
  file->fd = fd;
  file->name = path;
  info->fh = reinterpret_cast<uint64_t>(file);
  info->direct_io = 1;
  Log("open", path);
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
  auto* file = reinterpret_cast<OpenFile*>(info->fh);
  if (!file->waited_round_trip.exchange(true) && !Pace(g_settings.round_trip)) {
    Log("interrupted", file->name);
    return -EINTR;
  }
  const ssize_t count = pread(file->fd, buffer, size, offset);
  if (count < 0) {
    return -errno;
  }
  if (g_settings.bytes_per_second > 0 &&
      !Pace(std::chrono::duration<double>(static_cast<double>(count) /
                                          g_settings.bytes_per_second))) {
    Log("interrupted", file->name);
    return -EINTR;
  }
  if (file->name == g_settings.failing_name) {
    Log("failed", file->name);
    return -EIO;
  }
  Log("served", file->name, count);
  return static_cast<int>(count);
}

int Release(const char*, fuse_file_info* info) {
  auto* file = reinterpret_cast<OpenFile*>(info->fh);
  close(file->fd);
  Log("release", file->name);
  delete file;
  return 0;
}

fuse_operations Operations() {
  fuse_operations operations{};
  operations.init = Init;
  operations.getattr = GetAttributes;
  operations.readdir = ReadDirectory;
  operations.open = Open;
  operations.read = Read;
  operations.release = Release;
  return operations;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr,
                 "usage: %s SOURCE MOUNTPOINT ROUND_TRIP_MS BYTES_PER_SECOND LOG [FAILING_NAME]\n",
                 argv[0]);
    return 2;
  }
  // The mirror goes with the test that started it, even when that test is killed.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  g_settings.source = argv[1];
  g_settings.round_trip = std::chrono::milliseconds(std::atoll(argv[3]));
  g_settings.bytes_per_second = std::atof(argv[4]);
  g_settings.log_fd = open(argv[5], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (g_settings.log_fd < 0) {
    std::perror(argv[5]);
    return 1;
  }
  if (argc == 7) {
    g_settings.failing_name = std::string("/") + argv[6];
  }
  // auto_unmount: a helper of libfuse's unmounts the mirror when this process ends, however.
  std::vector<const char*> fuse_arguments = {argv[0], argv[2], "-f", "-o",
                                             "ro,auto_unmount,fsname=slow_mirror"};
  const fuse_operations operations = Operations();
  return fuse_main(static_cast<int>(fuse_arguments.size()),
                   const_cast<char**>(fuse_arguments.data()), &operations, nullptr);
}
