#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/playback_state.h"
#include "tests/audio/failing_calloc.h"
#include "tests/audio/fake_engine_test.h"

namespace {

using fake_audio::FakeFileContents;
using fake_audio::FakeQueue;
using fake_audio::Op;
using fake_audio::QueueState;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr UInt64 kBufferFrames = 32768;

class LoadAndPlayTest : public engine_test::FakeEngineTest {
 protected:
  void SetUp() override {
    FakeEngineTest::SetUp();
    first_contents_ = engine_test::ContentsWithFrames(10 * kBufferFrames, 2, 1);
    second_contents_ = engine_test::ContentsWithFrames(10 * kBufferFrames, 2, 2);
    first_ = WriteTrack("first.mp3", first_contents_);
    second_ = WriteTrack("second.flac", second_contents_);
  }

  void TearDown() override {
    StopPlayback(state_);
    FakeEngineTest::TearDown();
  }

  // Calls LoadAndPlay; its result, and what it wrote to stderr in `errors`.
  bool Play(const std::string& path, std::string* errors = nullptr) {
    bool result = false;
    std::string output = engine_test::CaptureStderr([&] { result = LoadAndPlay(state_, path); });
    if (errors != nullptr) {
      *errors = output;
    }
    return result;
  }

  void ExpectNothingLoaded() {
    EXPECT_FALSE(state_.heard.loaded);
    EXPECT_EQ(state_.heard.path, "");
    EXPECT_EQ(state_.now_playing, "");
    EXPECT_EQ(fake_audio::OpenFileCount(), 0);
    EXPECT_EQ(fake_audio::LiveQueueCount(), 0);
  }

  PlaybackState state_;
  FakeFileContents first_contents_;
  FakeFileContents second_contents_;
  std::string first_;
  std::string second_;
};

TEST_F(LoadAndPlayTest, PlaysTheFileAndNamesIt) {
  std::string errors;
  ASSERT_TRUE(Play(first_, &errors));
  EXPECT_THAT(errors, IsEmpty());
  EXPECT_EQ(state_.heard.path, first_);
  EXPECT_TRUE(state_.heard.loaded);
  EXPECT_EQ(state_.heard.position, 0);
  EXPECT_DOUBLE_EQ(state_.heard.duration, 10.0 * kBufferFrames / 44100);
  EXPECT_EQ(state_.now_playing, first_);
  EXPECT_EQ(fake_audio::LastQueue().state(), QueueState::kRunning);
}

TEST_F(LoadAndPlayTest, StopPlaybackFreesThePlayerBeforeClosingTheTrack) {
  ASSERT_TRUE(Play(first_));
  int stop_from = static_cast<int>(fake_audio::CallLog().size()) - 1;

  StopPlayback(state_);

  std::vector<std::string> log = fake_audio::CallLog();
  EXPECT_THAT(std::vector<std::string>(log.begin() + stop_from + 1, log.end()),
              ElementsAre("AudioQueueStop(immediate)", "AudioQueueDispose(immediate)",
                          "ExtAudioFileDispose", "AudioFileClose"));
  ExpectNothingLoaded();

  StopPlayback(state_);  // Nothing left: nothing to do.
  EXPECT_EQ(fake_audio::CallLog().size(), log.size());
}

TEST_F(LoadAndPlayTest, SamePathAgainRestartsFromTheBeginning) {
  ASSERT_TRUE(Play(first_));
  fake_audio::LastQueue().PlayHeadBuffer();
  fake_audio::LastQueue().PlayHeadBuffer();

  ASSERT_TRUE(Play(first_));
  FakeQueue queue = fake_audio::LastQueue();
  queue.PlayHeadBuffer();

  EXPECT_EQ(queue.played_samples(), fake_audio::FakePcm(first_contents_, 0, kBufferFrames));
  EXPECT_EQ(state_.now_playing, first_);
}

TEST_F(LoadAndPlayTest, MissingFileWritesBothLinesAndLeavesNothing) {
  ASSERT_TRUE(Play(first_));
  std::string missing = dir_ / "gone.mp3";
  std::string errors;

  EXPECT_FALSE(Play(missing, &errors));

  EXPECT_EQ(errors,
            "Failed to open file: No such file or directory\nFailed to load: " + missing + "\n");
  ExpectNothingLoaded();
}

TEST_F(LoadAndPlayTest, UndecodableFileStopsTheOtherAndFails) {
  ASSERT_TRUE(Play(first_));
  std::string garbage = dir_ / "garbage.m4a";
  test_support::WriteFile(garbage, "not audio at all");
  std::string errors;

  EXPECT_FALSE(Play(garbage, &errors));

  EXPECT_EQ(errors, "Failed to load: " + garbage + "\n");
  ExpectNothingLoaded();
}

TEST_F(LoadAndPlayTest, PlayerAllocationFailureWritesTwoLines) {
  engine_test::FailNextCalloc(sizeof(Player));
  std::string errors;

  EXPECT_FALSE(Play(first_, &errors));

  EXPECT_EQ(errors, "Failed to allocate Player\nFailed to create player for: " + first_ + "\n");
  ExpectNothingLoaded();
}

TEST_F(LoadAndPlayTest, QueueCreationFailureClosesTheTrack) {
  fake_audio::FailNthCall(Op::kAudioQueueNewOutput, 1, kAudioQueueErr_InvalidDevice);
  std::string errors;

  EXPECT_FALSE(Play(first_, &errors));

  EXPECT_EQ(errors, "Failed to create player for: " + first_ + "\n");
  ExpectNothingLoaded();
}

TEST_F(LoadAndPlayTest, StartFailuresFreeThePlayerThenCloseTheTrack) {
  for (Op failing : {Op::kAudioQueueAllocateBuffer, Op::kAudioQueueStart}) {
    fake_audio::Reset();
    fake_audio::FailEveryCall(failing, kAudioQueueErr_CannotStart);
    std::string errors;

    EXPECT_FALSE(Play(first_, &errors)) << fake_audio::OpName(failing);

    EXPECT_EQ(errors, "Failed to start playback for: " + first_ + "\n");
    std::vector<std::string> log = fake_audio::CallLog();
    EXPECT_THAT(
        std::vector<std::string>(log.end() - 3, log.end()),
        ElementsAre("AudioQueueDispose(immediate)", "ExtAudioFileDispose", "AudioFileClose"));
    ExpectNothingLoaded();
  }
}

TEST_F(LoadAndPlayTest, FailureAfterAFailureStartsClean) {
  std::string missing = dir_ / "gone.mp3";
  EXPECT_FALSE(Play(missing));
  EXPECT_FALSE(Play(missing));
  ASSERT_TRUE(Play(first_));
  EXPECT_EQ(state_.now_playing, first_);
}

}  // namespace
