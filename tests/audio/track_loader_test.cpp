// The loader against the fake platform, request by request: answers for what still stands,
// failures kept for the caller, files over the size a request allows left unread, and reads that
// never return holding up nothing else.

#include "audio/track_loader.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/audio/fake_engine_test.h"
#include "tests/audio/held_read.h"

namespace {

using engine_test::HeldRead;

class TrackLoaderTest : public engine_test::FakeEngineTest {
 protected:
  void TearDown() override {
    loader_.reset();
    FakeEngineTest::TearDown();
  }

  std::string Track(const std::string& name, UInt32 channels = 2) {
    return WriteTrack(name, engine_test::ContentsWithFrames(1000, channels));
  }

  // The answer to `request` once it is there; none after the patience (a broken loader).
  std::optional<LoadedFile> Await(RequestId request) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (std::optional<LoadedFile> answer = loader_->TakeAnswer(request)) {
        return answer;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
  }

  std::unique_ptr<TrackLoader> loader_ = std::make_unique<TrackLoader>();
};

// Each request is answered under its own number, once; a cancelled one never is, not even by
// a read that had finished before the cancel.
TEST_F(TrackLoaderTest, AnswersGoToTheirOwnRequestsOnceAndNeverToACancelledOne) {
  const std::string a = Track("a.mp3");
  const std::string b = Track("b.mp3", 1);
  const RequestId first = loader_->Request(a, 1 << 20);
  const RequestId second = loader_->Request(b, 1 << 20);
  EXPECT_NE(first, second);

  std::optional<LoadedFile> answer = Await(second);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->request, second);
  EXPECT_EQ(answer->path, b);
  ASSERT_NE(answer->track, nullptr);
  EXPECT_EQ(answer->track->client_format.mChannelsPerFrame, 1u);
  EXPECT_FALSE(loader_->TakeAnswer(second).has_value()) << "handed out once";

  answer = Await(first);
  ASSERT_TRUE(answer.has_value()) << "a later request does not take an earlier one's place";
  EXPECT_EQ(answer->path, a);

  answer.reset();
  ASSERT_EQ(fake_audio::OpenFileCount(), 0);
  const RequestId cancelled = loader_->Request(a, 1 << 20);
  // Read and answered, not taken yet: the answer holds the file open.
  for (int i = 0; i < 20000 && fake_audio::OpenFileCount() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  loader_->Cancel(cancelled);
  EXPECT_FALSE(loader_->TakeAnswer(cancelled).has_value());
  EXPECT_EQ(fake_audio::OpenFileCount(), 0) << "the answer was dropped with its request";
}

TEST_F(TrackLoaderTest, FailuresAreKeptForTheCallerAndLargeFilesLeftUnread) {
  std::string errors = engine_test::CaptureStderr([&] {
    const std::optional<LoadedFile> missing = Await(loader_->Request(dir_ / "gone.mp3", 1 << 20));
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->track, nullptr);
    EXPECT_EQ(missing->failure_lines, "Failed to open file: No such file or directory\n");
  });
  EXPECT_EQ(errors, "");

  const std::optional<LoadedFile> large = Await(loader_->Request(Track("big.mp3"), 10));
  ASSERT_TRUE(large.has_value());
  EXPECT_TRUE(large->too_large);
  EXPECT_EQ(large->track, nullptr);
  EXPECT_EQ(fake_audio::CallCount(fake_audio::Op::kAudioFileOpenWithCallbacks), 0);
}

// Reads that never return are left to themselves: the next request gets a reader of its own,
// up to the bound; beyond it, a request waits for the first reader to come free. A stuck read
// that comes back late is dropped, and the loader goes without waiting for any of them.
TEST_F(TrackLoaderTest, StuckReadsHoldUpNoOtherRequestUpToTheBound) {
  const std::string a = Track("a.mp3");
  std::vector<std::unique_ptr<HeldRead>> held;
  std::vector<RequestId> stuck;
  for (int i = 0; i + 1 < kMaxTrackReaders; ++i) {
    held.push_back(std::make_unique<HeldRead>());
    stuck.push_back(loader_->Request(a, 1 << 20));
    ASSERT_TRUE(held.back()->WaitUntilReached()) << "reader " << i;
    loader_->Cancel(stuck.back());
  }
  ASSERT_TRUE(Await(loader_->Request(a, 1 << 20)).has_value())
      << "a free reader beside the stuck ones";

  held.push_back(std::make_unique<HeldRead>());
  stuck.push_back(loader_->Request(a, 1 << 20));
  ASSERT_TRUE(held.back()->WaitUntilReached());
  const RequestId waiting = loader_->Request(a, 1 << 20);
  EXPECT_FALSE(loader_->TakeAnswer(waiting).has_value());
  held[0]->Release();
  EXPECT_TRUE(Await(waiting).has_value()) << "read by the reader that came free";
  EXPECT_FALSE(loader_->TakeAnswer(stuck[0]).has_value());

  std::atomic<bool> gone{false};
  std::thread quit([&] {
    loader_.reset();
    gone = true;
  });
  // Waits only so that a loader that does wait for its readers ends the test.
  for (int i = 0; i < 20000 && !gone; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(gone) << "the loader waited for a read that does not return";
  for (std::unique_ptr<HeldRead>& read : held) {
    read->ReleaseAndWaitUntilClosed();
  }
  quit.join();
}

}  // namespace
