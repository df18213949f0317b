#pragma once

// Slow storage for the tests: a read-only FUSE mirror of a folder whose reads take a set time,
// as a file on a share or a disk that wakes up slowly does (tests/support/slow_mirror_daemon.cpp).
// Its log tells what the program read and when a read was served whole, so a test can tell
// "before the read finished" without timing anything.

#include <chrono>
#include <cstdint>
#include <filesystem>
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

// Empty when a mirror can be mounted here; else why not (no /dev/fuse, no fusermount3, a
// mount refused in a container).
std::string WhyNoSlowMirror();

class SlowMirror {
 public:
  // Mounts a mirror of `source` in a temporary folder; ok() tells whether it is there. Reads of
  // the file named `failing` (a name in `source`) take their time, then fail with EIO.
  SlowMirror(const std::filesystem::path& source, const ReadPace& pace,
             const std::string& failing = "");
  // Unmounts it (fusermount3 -u) and ends its process.
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
  // the failing file has failed: the reader's wait is over.
  bool ReadFinished(const std::string& name) const;

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
