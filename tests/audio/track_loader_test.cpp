// The loader against the fake platform: answers for the latest request only, failures kept for
// the caller, and files over the size a request allows left unread.

#include "audio/track_loader.h"

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/audio/fake_engine_test.h"

namespace {

class TrackLoaderTest : public engine_test::FakeEngineTest {
 protected:
  void SetUp() override {
    FakeEngineTest::SetUp();
    loader_ = StartTrackLoader();
    ASSERT_NE(loader_, nullptr);
  }
  void TearDown() override {
    StopTrackLoader(loader_);
    FakeEngineTest::TearDown();
  }

  LoadedFile Await() {
    LoadedFile answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!TakeLoadedFile(loader_, &answer) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return answer;
  }

  TrackLoader* loader_ = nullptr;
};

TEST_F(TrackLoaderTest, OnlyTheLatestRequestIsAnswered) {
  const std::string a = WriteTrack("a.mp3", engine_test::ContentsWithFrames(1000));
  const std::string b = WriteTrack("b.mp3", engine_test::ContentsWithFrames(2000, 1));
  RequestFile(loader_, a, 1 << 20);
  const std::uint64_t latest = RequestFile(loader_, b, 1 << 20);
  const LoadedFile answer = Await();
  EXPECT_EQ(answer.request, latest);
  EXPECT_EQ(answer.path, b);
  ASSERT_NE(answer.track, nullptr);
  EXPECT_EQ(answer.track->client_format.mChannelsPerFrame, 1u);
  LoadedFile none;
  EXPECT_FALSE(TakeLoadedFile(loader_, &none)) << "a's answer was dropped";
}

TEST_F(TrackLoaderTest, FailuresAreKeptForTheCallerAndLargeFilesLeftUnread) {
  std::string errors = engine_test::CaptureStderr([&] {
    RequestFile(loader_, dir_ / "gone.mp3", 1 << 20);
    const LoadedFile missing = Await();
    EXPECT_EQ(missing.track, nullptr);
    EXPECT_EQ(missing.failure_lines, "Failed to open file: No such file or directory\n");
  });
  EXPECT_EQ(errors, "");

  const std::string big = WriteTrack("big.mp3", engine_test::ContentsWithFrames(1000));
  RequestFile(loader_, big, 10);
  const LoadedFile deferred = Await();
  EXPECT_TRUE(deferred.deferred);
  EXPECT_EQ(deferred.track, nullptr);
  EXPECT_EQ(fake_audio::OpenFileCount(), 0);
}

}  // namespace
