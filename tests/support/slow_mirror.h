#pragma once

// Slow storage for the tests: a read-only FUSE mirror of a folder whose reads take a set time,
// as a file on a share or a disk that wakes up slowly does (tests/support/slow_mirror_daemon.cpp),
// and whose named files can fail as shares do. Its log tells what the program read and when a
// read was served whole, failed or was held, so a test can tell "before the read finished"
// without timing anything.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include <gtest/gtest.h>
#include <sys/types.h>

#include "tests/support/prerequisite.h"
#include "tests/support/temp_dir.h"

namespace test_support {

// How slowly the mirror reads: the first read of each open file waits `round_trip`, and every
// read takes its bytes at `bytes_per_second` (0: at the source's own pace).
struct ReadPace {
  std::chrono::milliseconds round_trip{0};
  double bytes_per_second = 0;
};

// The pace at which reading a file of `bytes` takes `seconds`, of which `round_trip` is spent
// before the first byte.
ReadPace PaceToRead(int64_t bytes, double seconds,
                    std::chrono::milliseconds round_trip = std::chrono::milliseconds(300));

// How long reading a file of `bytes` takes at `pace`.
double SecondsToRead(int64_t bytes, const ReadPace& pace);

// Faults of the mirror's files, by their names in the source folder.
struct MirrorFaults {
  // Reads of the file serve its first so many bytes, then fail with EIO, each taking its time as
  // any read does: a share dropped mid-read. 0 fails the first read, once it has taken its time.
  std::map<std::string, int64_t> fail_after;
  // Reads of the file are never answered, as on a hard mount whose server has gone. Such a read
  // ends only when its reader's process is killed or ends (EINTR, as a hard NFS mount's killable
  // wait does), or when the mirror is unmounted (EIO). Each one held keeps a thread of the
  // mirror's, which has ten: hold a few at most.
  std::set<std::string> never_answer;
};

// Empty when a mirror can be mounted here; else why not (no /dev/fuse, no fusermount3, a
// mount refused in a container).
std::string WhyNoSlowMirror();

class SlowMirror {
 public:
  // Mounts a mirror of `source` at `mount_point` (made when missing, and left in place), or in a
  // temporary folder when that is empty; ok() tells whether it is there.
  SlowMirror(const std::filesystem::path& source, const ReadPace& pace,
             const MirrorFaults& faults = {}, const std::filesystem::path& mount_point = {});
  // Unmounts it and ends its process. A file still open on it (a read held unanswered, a program
  // killed mid-read) keeps a plain unmount from working: the mount is then detached
  // (fusermount3 -uz) and the mirror's process told to end, which fails every read it holds with
  // EIO; the kernel lets go of the mount once its last file is closed. A process that does not
  // end within seconds is killed, which fails what it held with ENOTCONN.
  ~SlowMirror();
  SlowMirror(const SlowMirror&) = delete;
  SlowMirror& operator=(const SlowMirror&) = delete;

  bool ok() const { return mounted_; }
  // What the mirror's process wrote, to tell why it did not mount.
  std::string Errors() const;
  // The mirror's root.
  const std::filesystem::path& path() const { return mount_point_; }
  std::string operator/(std::string_view name) const { return (mount_point_ / name).string(); }

  // How many times the file named `name` was opened through the mirror.
  int Opens(const std::string& name) const;
  // The bytes of `name` served so far, over all its opens.
  int64_t BytesServed(const std::string& name) const;
  // How many times a file of that name was closed after an open.
  int Releases(const std::string& name) const;
  // True once every byte of `name` has been served by one read or another, or once a read of
  // it has failed: the reader's wait is over.
  bool ReadFinished(const std::string& name) const;
  // How many reads of `name` (a never_answer file) the mirror has begun to hold unanswered.
  int Unanswered(const std::string& name) const;
  // How many reads of `name` ended early because their reader's process was ending.
  int Interrupted(const std::string& name) const;

 private:
  void Unmount();
  // The log's lines for `name` that begin with `event`, the values after the name summed (1 for
  // a line without one).
  int64_t Sum(const std::string& event, const std::string& name) const;

  TempDir folder_;
  std::filesystem::path source_;
  std::filesystem::path mount_point_;
  pid_t daemon_ = -1;
  bool mounted_ = false;
};

}  // namespace test_support

// Ends the current test, as a missing prerequisite does (tests/support/prerequisite.h), when no
// mirror can be mounted here.
#define SKIP_WITHOUT_SLOW_MIRROR()                                                        \
  do {                                                                                    \
    const std::string why_no_mirror = ::test_support::WhyNoSlowMirror();                  \
    if (!why_no_mirror.empty()) {                                                         \
      MISSING_PREREQUISITE("a FUSE mirror is needed for slow storage: " + why_no_mirror); \
    }                                                                                     \
  } while (false)
