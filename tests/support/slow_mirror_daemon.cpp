// A read-only FUSE mirror of a folder whose reads take a set time, as a share or a disk that
// wakes up slowly does: the first read of each open file waits a round trip, and every read
// then takes its bytes at a set rate (the kernel asks for up to 1 MiB at a time). Files are
// opened with direct_io, so that the page cache never answers in the mirror's place. A read
// whose reader's process is ending ends at once, as a disk's read would have. The tests
// start it through SlowMirror (tests/support/slow_mirror.h), which also reads its log.
//
// Usage: slow_mirror SOURCE MOUNTPOINT ROUND_TRIP_MS BYTES_PER_SECOND LOG [FAULT...]
// A BYTES_PER_SECOND of 0 reads at the source's own pace. A FAULT names a file of SOURCE:
// - "--fail-after BYTES NAME": reads of NAME serve its first BYTES bytes, then fail with EIO, each
//   read taking its time as the others do (a share dropped mid-read; 0 fails the first read);
// - "--never-answer NAME": reads of NAME are never answered (a hard mount whose server has
//   gone), until this process is told to end or the reader's process is ending.
// The log gets one line per event, "open NAME", "served NAME BYTES", "failed NAME",
// "unanswered NAME" (a read held), "interrupted NAME" or "release NAME", written as it happens.
//
// A read that is never answered, as the kernel (fs/fuse) and libfuse treat it:
// - The reader waits in the kernel (state D). A signal it catches only sends the mirror an
//   interrupt: the read goes on waiting, and the handler runs once it returns. A signal that
//   ends the process (SIGKILL, one left to its default action, another thread's exit) sends the
//   interrupt too, and then the kernel holds that thread, and its dying process, until the
//   mirror answers: such a read ends at once with EINTR here, as a killable wait on a hard NFS
//   mount does, so that a program with a reader stuck here can still end.
// - fusermount3 -u fails (EBUSY) while the file is open; fusermount3 -uz detaches the mount,
//   but the kernel keeps it, and the read waiting, until the last file on it is closed. SIGTERM
//   ends this process's session: each held read then fails with EIO, and libfuse, which waits
//   for its worker threads, can end. Killing this process instead aborts the connection: every
//   read still waiting fails with ENOTCONN.
// - Each held read keeps one of libfuse's worker threads (at most 10 by default): hold no more
//   than a few at once, or the mirror stops answering anything.

#define FUSE_USE_VERSION 31

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
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
  // By "/NAME", as the mirror's paths are: the bytes served before reads fail.
  std::map<std::string, int64_t> fail_after;
  std::set<std::string> never_answer;
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

// True once the reader's process is ending (the kernel holds that process until the read is
// answered) or the mirror is being unmounted: a read must be answered now.
bool MustAnswer() {
  const fuse_context* context = fuse_get_context();
  return (fuse_interrupted() != 0 && ReaderIsEnding(context->pid)) ||
         fuse_session_exited(fuse_get_session(context->fuse)) != 0;
}

// Sleeps for `wait` in short steps. Stops early, false, once MustAnswer().
bool Pace(std::chrono::duration<double> wait) {
  const auto until = std::chrono::steady_clock::now() + wait;
  while (std::chrono::steady_clock::now() < until) {
    if (MustAnswer()) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A read of a file whose server has gone: held until it must be answered.
int NeverAnswer(const std::string& name) {
  Log("unanswered", name);
  while (!MustAnswer()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (fuse_session_exited(fuse_get_session(fuse_get_context()->fuse)) != 0) {
    Log("failed", name);
    return -EIO;
  }
  Log("interrupted", name);
  return -EINTR;
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
  if (g_settings.never_answer.count(file->name) != 0) {
    return NeverAnswer(file->name);
  }
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
  // A failing file gives what it has before its limit, and then fails: the reader sees a short
  // read, and its next read fails.
  int64_t served = count;
  const auto fault = g_settings.fail_after.find(file->name);
  if (fault != g_settings.fail_after.end()) {
    const int64_t before_limit = std::max<int64_t>(0, fault->second - offset);
    if (before_limit == 0) {
      Log("failed", file->name);
      return -EIO;
    }
    served = std::min(served, before_limit);
  }
  Log("served", file->name, served);
  return static_cast<int>(served);
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

// Reads the FAULT arguments from argv[first] on; false when one is malformed.
bool ReadFaults(int argc, char** argv, int first) {
  for (int i = first; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--fail-after" && i + 2 < argc) {
      g_settings.fail_after[std::string("/") + argv[i + 2]] = std::atoll(argv[i + 1]);
      i += 2;
    } else if (option == "--never-answer" && i + 1 < argc) {
      g_settings.never_answer.insert(std::string("/") + argv[i + 1]);
      i += 1;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || !ReadFaults(argc, argv, 6)) {
    std::fprintf(stderr,
                 "usage: %s SOURCE MOUNTPOINT ROUND_TRIP_MS BYTES_PER_SECOND LOG"
                 " [--fail-after BYTES NAME | --never-answer NAME]...\n",
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
  // auto_unmount: a helper of libfuse's unmounts the mirror when this process ends, however.
  std::vector<const char*> fuse_arguments = {argv[0], argv[2], "-f", "-o",
                                             "ro,auto_unmount,fsname=slow_mirror"};
  const fuse_operations operations = Operations();
  return fuse_main(static_cast<int>(fuse_arguments.size()),
                   const_cast<char**>(fuse_arguments.data()), &operations, nullptr);
}
