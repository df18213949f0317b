// The mirror's faults (tests/support/slow_mirror.h), which the tests of the program trust: a file
// that fails after a set number of bytes gives exactly those bytes, and a read never answered
// holds its reader until the reader is killed or the mirror goes, and then leaves no mount and
// no process behind.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/process.h"
#include "tests/support/slow_mirror.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace {

namespace fs = std::filesystem;
using test_support::MirrorFaults;
using test_support::SlowMirror;

constexpr char kGone[] = "gone.bin";

// The bytes of a file of `size`, none of them repeating at a short period.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 7919) % 251);
  }
  return bytes;
}

// True while some mount of this process's namespace is at `path`.
bool Mounted(const fs::path& path) {
  std::ifstream mounts("/proc/self/mountinfo");
  const std::string field = " " + path.string() + " ";
  for (std::string line; std::getline(mounts, line);) {
    if (line.find(field) != std::string::npos) {
      return true;
    }
  }
  return false;
}

struct ReadResult {
  std::string bytes;
  int error = 0;  // errno of the read that failed; 0 when it reached the end.
};

// Reads `path` to its end or to a read that fails, 64 KiB at a time.
ReadResult ReadAll(const std::string& path) {
  ReadResult result;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  std::vector<char> buffer(64 * 1024);
  while (true) {
    const ssize_t count = read(fd, buffer.data(), buffer.size());
    if (count < 0) {
      result.error = errno;
      break;
    }
    if (count == 0) {
      break;
    }
    result.bytes.append(buffer.data(), static_cast<size_t>(count));
  }
  close(fd);
  return result;
}

class SlowMirrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SLOW_MIRROR();
    fs::create_directory(dir_.path() / "source");
  }

  void Mount(const MirrorFaults& faults) {
    mirror_ = std::make_unique<SlowMirror>(dir_.path() / "source", test_support::ReadPace{}, faults,
                                           mount_point_);
    ASSERT_TRUE(mirror_->ok()) << "the mirror did not mount:\n" << mirror_->Errors();
  }

  test_support::TempDir dir_;
  fs::path mount_point_ = dir_.path() / "mirror";
  std::unique_ptr<SlowMirror> mirror_;
};

TEST_F(SlowMirrorTest, AFileThatFailsAfterSomeBytesGivesExactlyThoseThenEio) {
  const std::string bytes = Pattern(300000);
  test_support::WriteFile(dir_.path() / "source" / "dropped.bin", bytes);
  Mount({{{"dropped.bin", 100000}}, {}});
  const ReadResult read = ReadAll(*mirror_ / "dropped.bin");
  EXPECT_EQ(read.error, EIO);
  EXPECT_TRUE(read.bytes == bytes.substr(0, 100000))
      << read.bytes.size() << " bytes read, not the file's first 100000";
  EXPECT_TRUE(mirror_->ReadFinished("dropped.bin"));
}

// The program's Escape with a reader stuck: the process ends, and the mirror then unmounts
// plainly, the file being closed.
TEST_F(SlowMirrorTest, AReaderKilledWhileItsReadIsHeldEnds) {
  test_support::WriteFile(dir_.path() / "source" / kGone, Pattern(1000));
  Mount({{}, {kGone}});
  const pid_t reader =
      test_support::SpawnProgram({"cat", *mirror_ / kGone}, {}, "/dev/null", dir_ / "cat.errors");
  ASSERT_GT(reader, 0);
  ASSERT_TRUE(test_support::PollUntil([&] { return mirror_->Unanswered(kGone) > 0; }));
  EXPECT_EQ(waitpid(reader, nullptr, WNOHANG), 0) << "the held read returned";
  kill(reader, SIGKILL);
  // Generous: a killed reader whose read stays held never ends, and the test must.
  EXPECT_TRUE(test_support::PollUntil([&] { return waitpid(reader, nullptr, WNOHANG) == reader; },
                                      std::chrono::seconds(10)))
      << "the kernel still holds the killed reader";
  EXPECT_EQ(mirror_->Interrupted(kGone), 1);
  EXPECT_FALSE(mirror_->ReadFinished(kGone));
  EXPECT_TRUE(test_support::PollUntil([&] { return mirror_->Releases(kGone) == 1; }))
      << "the killed reader's file was never closed";
  mirror_.reset();
  EXPECT_FALSE(Mounted(mount_point_));
}

// A test that ends with the program still stuck in a read: unmounting fails the read, and
// nothing stays mounted.
TEST_F(SlowMirrorTest, AReadNeverAnsweredFailsWithEioOnceTheMirrorIsUnmounted) {
  test_support::WriteFile(dir_.path() / "source" / kGone, Pattern(1000));
  Mount({{}, {kGone}});
  std::atomic<bool> returned{false};
  ReadResult read;
  std::thread reader([&] {
    read = ReadAll(*mirror_ / kGone);
    returned = true;
  });
  ASSERT_TRUE(test_support::PollUntil([&] { return mirror_->Unanswered(kGone) > 0; }));
  EXPECT_FALSE(returned) << "the held read returned";
  // Detached (the file is open), then the mirror's process told to end: a read failed by a killed
  // mirror would say ENOTCONN instead.
  mirror_.reset();
  reader.join();
  EXPECT_EQ(read.error, EIO);
  EXPECT_TRUE(read.bytes.empty());
  EXPECT_FALSE(Mounted(mount_point_));
}

}  // namespace
