#include "tests/audio/fake_engine_test.h"

#include <filesystem>

#include <gmock/gmock.h>

namespace engine_test {

void FakeEngineTest::SetUp() { fake_audio::Reset(); }

void FakeEngineTest::TearDown() {
  EXPECT_THAT(fake_audio::Misuses(), ::testing::IsEmpty());
  EXPECT_EQ(fake_audio::OpenFileCount(), 0) << "audio files left open";
  EXPECT_EQ(fake_audio::OpenDecoderCount(), 0) << "decoders left open";
  EXPECT_EQ(fake_audio::LiveQueueCount(), 0) << "queues left undisposed";
  fake_audio::Reset();
}

std::string FakeEngineTest::WriteTrack(const std::string& name,
                                       const fake_audio::FakeFileContents& contents) {
  std::string path = dir_ / name;
  fake_audio::WriteFakeAudioFile(path, contents);
  return path;
}

fake_audio::FakeFileContents ContentsWithFrames(UInt64 frames, UInt32 channels, UInt32 seed) {
  fake_audio::FakeFileContents contents;
  contents.channels = channels;
  contents.frames_per_packet = 1;
  contents.packet_count = frames;
  contents.total_frames = frames;
  contents.seed = seed;
  return contents;
}

std::string CaptureStderr(const std::function<void()>& action) {
  ::testing::internal::CaptureStderr();
  action();
  return ::testing::internal::GetCapturedStderr();
}

}  // namespace engine_test
