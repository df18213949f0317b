#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/audio/platform/queue_feeder.h"
#include "tests/support/temp_dir.h"

namespace {

using platform_test::QueueFeeder;
using platform_test::WaitUntil;
using std::chrono::milliseconds;

// The queue on SDL's disk driver, which writes what it plays (and silence) to a file.
class AudioQueueTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("SDL_AUDIODRIVER", "disk", 1); }

  void SetUp() override {
    setenv("SDL_DISKAUDIOFILE", output_path_.c_str(), 1);
    UseDiskDelay(1);
  }

  void TearDown() override {
    if (feeder_->queue != nullptr) {
      EXPECT_EQ(AudioQueueDispose(feeder_->queue, true), noErr);
    }
  }

  // Milliseconds the disk driver waits per device buffer (about 23 ms of audio); read when a
  // device opens. 0 would spin, writing silence while paused, and starve others of the lock.
  static void UseDiskDelay(int milliseconds) {
    setenv("SDL_DISKAUDIODELAY", std::to_string(milliseconds).c_str(), 1);
  }

  void NewQueue(int channels = 2) {
    feeder_->channels = channels;
    const AudioStreamBasicDescription format = platform_test::PcmFormat(channels);
    ASSERT_EQ(AudioQueueNewOutput(&format, platform_test::RefillFromFeeder, feeder_.get(), nullptr,
                                  nullptr, 0, &feeder_->queue),
              noErr);
  }

  // Disposes the queue (SDL closes the disk file) and returns what it played.
  std::vector<int16_t> DisposeAndReadOutput() {
    EXPECT_EQ(AudioQueueDispose(feeder_->queue, true), noErr);
    feeder_->queue = nullptr;
    return platform_test::DiskOutputWithoutSilence(output_path_, feeder_->channels);
  }

  bool Running() {
    AudioTimeStamp now{};
    return AudioQueueGetCurrentTime(feeder_->queue, nullptr, &now, nullptr) == noErr;
  }

  Float64 CurrentFrames() {
    AudioTimeStamp now{};
    EXPECT_EQ(AudioQueueGetCurrentTime(feeder_->queue, nullptr, &now, nullptr), noErr);
    return now.mSampleTime;
  }

  test_support::TempDir folder_;
  const std::string output_path_ = folder_ / "played.raw";
  std::unique_ptr<QueueFeeder> feeder_ = std::make_unique<QueueFeeder>();
};

TEST_F(AudioQueueTest, PlaysEveryBufferInOrderAndWholeWithOneRefillEach) {
  for (int channels : {2, 1}) {
    SCOPED_TRACE(channels);
    feeder_ = std::make_unique<QueueFeeder>();
    feeder_->frames_per_chunk = 1000;  // Not a multiple of SDL's buffer: buffers span its fills.
    feeder_->total_chunks = 12;
    NewQueue(channels);
    feeder_->Prime(3);
    ASSERT_EQ(AudioQueueStart(feeder_->queue, nullptr), noErr);
    ASSERT_TRUE(WaitUntil([&] { return !Running(); })) << "the queue never played out";
    // The last buffers go back on the queue's thread once the output has played them out.
    EXPECT_TRUE(WaitUntil([&] { return feeder_->refills.load() == feeder_->total_chunks; }))
        << feeder_->refills.load() << " refills";
    EXPECT_TRUE(DisposeAndReadOutput() == feeder_->Expected(feeder_->total_chunks));
  }
}

TEST_F(AudioQueueTest, TimeCountsPlayedFramesAndFailsWhenNotRunning) {
  NewQueue();
  EXPECT_FALSE(Running()) << "before the first start";
  feeder_->total_chunks = 2;
  feeder_->stop_after_last = false;
  feeder_->Prime(2);
  ASSERT_EQ(AudioQueueStart(feeder_->queue, nullptr), noErr);
  ASSERT_TRUE(WaitUntil([&] { return feeder_->refills.load() == 2; }));
  EXPECT_EQ(CurrentFrames(), 2 * feeder_->frames_per_chunk) << "starved: time stops with the data";
  ASSERT_EQ(AudioQueueStop(feeder_->queue, true), noErr);
  EXPECT_FALSE(Running()) << "after a stop";
  EXPECT_NE(AudioQueueStart(feeder_->queue, nullptr), noErr) << "a queue stopped at once is done";
}

TEST_F(AudioQueueTest, PauseHaltsOutputRefillsAndTime) {
  UseDiskDelay(5);
  NewQueue();
  feeder_->total_chunks = 120;
  feeder_->Prime(3);
  ASSERT_EQ(AudioQueueStart(feeder_->queue, nullptr), noErr);
  ASSERT_TRUE(WaitUntil([&] { return feeder_->refills.load() >= 4; }));

  ASSERT_EQ(AudioQueuePause(feeder_->queue), noErr);
  AudioTimeStamp pause_stamp{};
  ASSERT_EQ(AudioQueueGetCurrentTime(feeder_->queue, nullptr, &pause_stamp, nullptr), noErr);
  const Float64 frames_at_pause = pause_stamp.mSampleTime;
  // Every buffer heard before the pause goes back (on the queue's thread, maybe just after the
  // pause returned), and no other.
  const auto heard_whole = static_cast<int>(frames_at_pause) / feeder_->frames_per_chunk;
  ASSERT_TRUE(WaitUntil([&] { return feeder_->refills.load() == heard_whole; }))
      << feeder_->refills.load() << " refills for " << frames_at_pause << " frames heard";
  const int refills_at_pause = feeder_->refills.load();
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(feeder_->refills.load(), refills_at_pause);
  EXPECT_EQ(CurrentFrames(), frames_at_pause);

  // Resumed from the stamp saved at the pause, as the Player does.
  ASSERT_EQ(AudioQueueStart(feeder_->queue, &pause_stamp), noErr);
  ASSERT_TRUE(WaitUntil([&] { return !Running(); }));
  EXPECT_TRUE(WaitUntil([&] { return feeder_->refills.load() == feeder_->total_chunks; }));
  EXPECT_TRUE(DisposeAndReadOutput() == feeder_->Expected(feeder_->total_chunks))
      << "audio lost or repeated across the pause";
}

TEST_F(AudioQueueTest, StopThatIsNotImmediatePlaysOutWhatIsQueued) {
  NewQueue();
  feeder_->total_chunks = 3;
  feeder_->Prime(3);
  ASSERT_EQ(AudioQueueStart(feeder_->queue, nullptr), noErr);
  ASSERT_EQ(AudioQueueStop(feeder_->queue, false), noErr);
  ASSERT_TRUE(WaitUntil([&] { return !Running(); }));
  EXPECT_TRUE(DisposeAndReadOutput() == feeder_->Expected(3));
}

// A track that ends while the first buffers are primed stops its queue before starting it.
TEST_F(AudioQueueTest, StopBeforeTheStartPlaysOutOnceStarted) {
  NewQueue();
  feeder_->total_chunks = 2;
  feeder_->Prime(2);
  ASSERT_EQ(AudioQueueStop(feeder_->queue, false), noErr);
  ASSERT_EQ(AudioQueueStart(feeder_->queue, nullptr), noErr);
  ASSERT_TRUE(WaitUntil([&] { return !Running(); }));
  EXPECT_TRUE(DisposeAndReadOutput() == feeder_->Expected(2));
}

TEST_F(AudioQueueTest, ImmediateStopDropsWhatIsQueued) {
  UseDiskDelay(23);  // Real time.
  NewQueue();
  feeder_->frames_per_chunk = 44100;
  feeder_->total_chunks = 3;
  feeder_->Prime(3);
  ASSERT_EQ(AudioQueueStart(feeder_->queue, nullptr), noErr);
  ASSERT_TRUE(WaitUntil([&] { return CurrentFrames() > 0; }));
  ASSERT_EQ(AudioQueueStop(feeder_->queue, true), noErr);
  const int refills_at_stop = feeder_->refills.load();
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(feeder_->refills.load(), refills_at_stop) << "dropped buffers came back";

  const std::vector<int16_t> played = DisposeAndReadOutput();
  const std::vector<int16_t> all = feeder_->Expected(3);
  ASSERT_GT(played.size(), 0u);
  // Stopped as the first frames were heard: playing on into the second of the three queued
  // seconds would take the test's thread a stall of a second and a half.
  ASSERT_LT(played.size(), all.size() / 2) << "the queued seconds played on";
  EXPECT_TRUE(std::equal(played.begin(), played.end(), all.begin()));
}

TEST_F(AudioQueueTest, DisposeWaitsForARunningRefillAndNoneFollows) {
  NewQueue();
  feeder_->total_chunks = 1000;
  feeder_->refill_delay = milliseconds(5);
  feeder_->Prime(3);
  ASSERT_EQ(AudioQueueStart(feeder_->queue, nullptr), noErr);
  ASSERT_TRUE(WaitUntil([&] { return feeder_->refills.load() >= 3; }));
  ASSERT_EQ(AudioQueueDispose(feeder_->queue, true), noErr);
  feeder_->queue = nullptr;
  EXPECT_FALSE(feeder_->in_refill.load());
  const int refills_at_dispose = feeder_->refills.load();
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(feeder_->refills.load(), refills_at_dispose);
}

TEST_F(AudioQueueTest, RefusesBuffersItCannotPlay) {
  NewQueue();
  AudioQueueBufferRef buffer = nullptr;
  ASSERT_EQ(AudioQueueAllocateBuffer(feeder_->queue, 4000, &buffer), noErr);
  EXPECT_EQ(buffer->mAudioDataBytesCapacity, 4000u);
  buffer->mAudioDataByteSize = 0;
  EXPECT_NE(AudioQueueEnqueueBuffer(feeder_->queue, buffer, 0, nullptr), noErr) << "empty";
  buffer->mAudioDataByteSize = 4004;
  EXPECT_NE(AudioQueueEnqueueBuffer(feeder_->queue, buffer, 0, nullptr), noErr) << "too large";
  buffer->mAudioDataByteSize = 3998;
  EXPECT_NE(AudioQueueEnqueueBuffer(feeder_->queue, buffer, 0, nullptr), noErr) << "half a frame";
  buffer->mAudioDataByteSize = 4000;
  EXPECT_EQ(AudioQueueEnqueueBuffer(feeder_->queue, buffer, 0, nullptr), noErr);
  EXPECT_NE(AudioQueueEnqueueBuffer(feeder_->queue, buffer, 0, nullptr), noErr) << "twice";

  AudioQueueBuffer stranger{4000, buffer->mAudioData, 4000, nullptr};
  EXPECT_NE(AudioQueueEnqueueBuffer(feeder_->queue, &stranger, 0, nullptr), noErr);
  EXPECT_EQ(AudioQueueSetParameter(feeder_->queue, kAudioQueueParam_Volume, 1.0f), noErr);
  EXPECT_NE(AudioQueueSetParameter(feeder_->queue, kAudioQueueParam_Volume, 2.0f), noErr);
}

TEST_F(AudioQueueTest, RefusesFormatsOtherThan16BitPcm) {
  AudioStreamBasicDescription format = platform_test::PcmFormat(2);
  format.mBitsPerChannel = 24;
  AudioQueueRef queue = nullptr;
  EXPECT_NE(AudioQueueNewOutput(&format, platform_test::RefillFromFeeder, feeder_.get(), nullptr,
                                nullptr, 0, &queue),
            noErr);
  EXPECT_EQ(queue, nullptr);
}

TEST_F(AudioQueueTest, RefusesSampleRatesNoOutputPlays) {
  for (Float64 rate : {1.0, 3999.0, 768001.0, 2147483647.0}) {
    AudioStreamBasicDescription format = platform_test::PcmFormat(2);
    format.mSampleRate = rate;
    AudioQueueRef queue = nullptr;
    EXPECT_NE(AudioQueueNewOutput(&format, platform_test::RefillFromFeeder, feeder_.get(), nullptr,
                                  nullptr, 0, &queue),
              noErr)
        << rate;
    EXPECT_EQ(queue, nullptr);
  }
  for (Float64 rate : {4000.0, 8000.0, 768000.0}) {
    AudioStreamBasicDescription format = platform_test::PcmFormat(2);
    format.mSampleRate = rate;
    AudioQueueRef queue = nullptr;
    EXPECT_EQ(AudioQueueNewOutput(&format, platform_test::RefillFromFeeder, feeder_.get(), nullptr,
                                  nullptr, 0, &queue),
              noErr)
        << rate;
    EXPECT_EQ(AudioQueueDispose(queue, true), noErr);
  }
}

}  // namespace
