#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/fakes/fake_audio_platform.h"
#include "tests/support/temp_dir.h"

namespace engine_test {

// A fixture over the fake platform: a clean fake and a temporary folder for each test, and at
// the end the check that the engine used the platform correctly and released all it took.
class FakeEngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a fake audio file named `name` into the test's folder; its path.
  std::string WriteTrack(const std::string& name, const fake_audio::FakeFileContents& contents);

  test_support::TempDir dir_;
};

// A stereo 44.1 kHz file whose decoder delivers `frames` frames and whose packet count agrees.
fake_audio::FakeFileContents ContentsWithFrames(UInt64 frames, UInt32 channels = 2,
                                                UInt32 seed = 1);

// What `action` wrote to standard error.
std::string CaptureStderr(const std::function<void()>& action);

}  // namespace engine_test
