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
                                       const fake_audio::FakeFileSpec& spec) {
  std::string path = dir_ / name;
  fake_audio::WriteFakeAudioFile(path, spec);
  return path;
}

fake_audio::FakeFileSpec SpecWithFrames(UInt64 frames, UInt32 channels, UInt32 seed) {
  fake_audio::FakeFileSpec spec;
  spec.channels = channels;
  spec.frames_per_packet = 1;
  spec.packet_count = frames;
  spec.total_frames = frames;
  spec.seed = seed;
  return spec;
}

std::string CaptureStderr(const std::function<void()>& action) {
  ::testing::internal::CaptureStderr();
  action();
  return ::testing::internal::GetCapturedStderr();
}

}  // namespace engine_test
