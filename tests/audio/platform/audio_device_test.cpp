#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/audio/platform/queue_feeder.h"
#include "tests/support/pcm.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"

namespace {

// Each case runs in a fresh process, since SDL picks its driver once per process.
class AudioDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Opens a queue on the output this process chooses and plays `chunks` chunks through it. Exits
// at once with 1 when no output opens; else true when every chunk went back to be refilled.
bool PlayChunks(platform_test::QueueFeeder& feeder, int chunks) {
  feeder.total_chunks = chunks;
  const AudioStreamBasicDescription format = platform_test::PcmFormat(2);
  if (AudioQueueNewOutput(&format, platform_test::RefillFromFeeder, &feeder, nullptr, nullptr, 0,
                          &feeder.queue) != noErr) {
    std::_Exit(1);
  }
  feeder.Prime(3);
  AudioQueueStart(feeder.queue, nullptr);
  const bool played = platform_test::WaitUntil([&] { return feeder.refills.load() == chunks; });
  AudioQueueDispose(feeder.queue, true);
  return played;
}

// Plays on whatever SDL's `driver` gives (the desktop's choice when null); exits 0 when it
// opened and played, 1 when it failed to open, 2 when it opened but did not play.
[[noreturn]] void OpenAndPlay(const char* driver) {
  if (driver == nullptr) {
    unsetenv("SDL_AUDIODRIVER");
  } else {
    setenv("SDL_AUDIODRIVER", driver, 1);
  }
  platform_test::QueueFeeder feeder;
  std::_Exit(PlayChunks(feeder, 4) ? 0 : 2);
}

// With no sound server to reach, SDL's output plays; here ALSA's, which `home`'s configuration
// sends to a file. Exits 0 when the file holds every frame, in order.
[[noreturn]] void PlayWithoutASoundServer(const test_support::TempDir& home) {
  const std::string played = home / "played.raw";
  test_support::WriteFile(
      home.path() / ".asoundrc",
      "pcm.!default { type file slave.pcm \"null\" file \"" + played + "\" format \"raw\" }\n");
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", home.path().c_str(), 1);
  setenv("PULSE_SERVER", (home / "no-server").c_str(), 1);
  setenv("PIPEWIRE_RUNTIME_DIR", home.path().c_str(), 1);
  unsetenv("PIPEWIRE_REMOTE");
  unsetenv("SDL_AUDIODRIVER");
  platform_test::QueueFeeder feeder;
  const bool ended = PlayChunks(feeder, 6);
  const bool whole = platform_test::DiskOutputWithoutSilence(played, 2) == feeder.Expected(6);
  // ALSA's null device takes silence as fast as SDL writes it: the file is large.
  std::filesystem::remove_all(home.path());
  std::_Exit(ended && whole ? 0 : 2);
}

TEST_F(AudioDeviceTest, WithoutASoundServerSdlPlaysThroughAlsa) {
  test_support::TempDir home;
  EXPECT_EXIT(PlayWithoutASoundServer(home), ::testing::ExitedWithCode(0), "^$");
}

TEST_F(AudioDeviceTest, NoAudioDeviceFailsCleanlyAndQuietly) {
  EXPECT_EXIT(OpenAndPlay("no-such-driver"), ::testing::ExitedWithCode(1), "^$");
}

TEST_F(AudioDeviceTest, DummyDriverPlaysInRealTime) {
  EXPECT_EXIT(OpenAndPlay("dummy"), ::testing::ExitedWithCode(0), "^$");
}

// On a machine with sound this plays a brief tone; without, it must fail without a word.
TEST_F(AudioDeviceTest, DesktopOutputPlaysOrFailsQuietly) {
  EXPECT_EXIT(
      OpenAndPlay(nullptr),
      [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 2; }, "^$");
}

// The queue on each kind of desktop server, through the program's own client: the server's
// sink hears every chunk, once, in order, and each chunk goes back to be refilled.
class DesktopDeviceTest : public ::testing::TestWithParam<test_support::ServerKind> {};

TEST_P(DesktopDeviceTest, EveryChunkIsHeardThroughTheServer) {
  SKIP_WITHOUT_SOUND_SERVER(GetParam());
  test_support::SoundServer server(GetParam());
  ASSERT_TRUE(server.ok()) << server.Logs();
  server.SetClientEnvironment();
  ASSERT_TRUE(server.StartRecording());
  platform_test::QueueFeeder feeder;
  feeder.frames_per_chunk = 11025;  // As the Player's: the server asks for a quarter second.
  feeder.total_chunks = 8;
  const AudioStreamBasicDescription format = platform_test::PcmFormat(2);
  ASSERT_EQ(AudioQueueNewOutput(&format, platform_test::RefillFromFeeder, &feeder, nullptr, nullptr,
                                0, &feeder.queue),
            noErr);
  feeder.Prime(3);
  AudioQueueStart(feeder.queue, nullptr);
  EXPECT_TRUE(platform_test::WaitUntil([&] { return feeder.refills.load() == 8; }));
  AudioQueueDispose(feeder.queue, true);
  EXPECT_EQ(test_support::WithoutSilentFrames(server.StopRecording(), 2), feeder.Expected(8));
}

INSTANTIATE_TEST_SUITE_P(Servers, DesktopDeviceTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);

}  // namespace
