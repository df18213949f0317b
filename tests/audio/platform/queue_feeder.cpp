#include "tests/audio/platform/queue_feeder.h"

#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace platform_test {

int16_t PatternSample(int64_t frame, int channel) {
  return static_cast<int16_t>(1 + (frame * 2 + channel) % 30000);
}

AudioStreamBasicDescription PcmFormat(int channels) {
  AudioStreamBasicDescription format{};
  format.mSampleRate = 44100;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
  format.mBytesPerPacket = 2 * static_cast<UInt32>(channels);
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = 2 * static_cast<UInt32>(channels);
  format.mChannelsPerFrame = static_cast<UInt32>(channels);
  format.mBitsPerChannel = 16;
  return format;
}

void QueueFeeder::Prime(int buffers) {
  for (int i = 0; i < buffers; ++i) {
    AudioQueueBufferRef buffer = nullptr;
    ASSERT_EQ(AudioQueueAllocateBuffer(queue, static_cast<UInt32>(frames_per_chunk * channels * 2),
                                       &buffer),
              noErr);
    ASSERT_TRUE(EnqueueNextChunk(buffer));
  }
}

bool QueueFeeder::EnqueueNextChunk(AudioQueueBufferRef buffer) {
  if (next_chunk >= total_chunks) {
    return false;
  }
  auto* samples = static_cast<int16_t*>(buffer->mAudioData);
  const int64_t first = int64_t{next_chunk} * frames_per_chunk;
  for (int frame = 0; frame < frames_per_chunk; ++frame) {
    for (int channel = 0; channel < channels; ++channel) {
      samples[frame * channels + channel] = PatternSample(first + frame, channel);
    }
  }
  buffer->mAudioDataByteSize = static_cast<UInt32>(frames_per_chunk * channels * 2);
  ++next_chunk;
  EXPECT_EQ(AudioQueueEnqueueBuffer(queue, buffer, 0, nullptr), noErr);
  return true;
}

std::vector<int16_t> QueueFeeder::Expected(int chunks) const {
  std::vector<int16_t> samples;
  for (int64_t frame = 0; frame < int64_t{chunks} * frames_per_chunk; ++frame) {
    for (int channel = 0; channel < channels; ++channel) {
      samples.push_back(PatternSample(frame, channel));
    }
  }
  return samples;
}

void RefillFromFeeder(void* user_data, AudioQueueRef queue, AudioQueueBufferRef buffer) {
  auto& feeder = *static_cast<QueueFeeder*>(user_data);
  feeder.in_refill = true;
  EXPECT_EQ(queue, feeder.queue);
  feeder.refills.fetch_add(1);
  if (feeder.refill_delay.count() > 0) {
    std::this_thread::sleep_for(feeder.refill_delay);
  }
  if (!feeder.EnqueueNextChunk(buffer) && feeder.stop_after_last) {
    EXPECT_EQ(AudioQueueStop(queue, false), noErr);
  }
  feeder.in_refill = false;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::vector<int16_t> DiskOutputWithoutSilence(const std::string& path, int channels) {
  const std::string bytes = test_support::ReadFile(path);
  const size_t frame_bytes = 2 * static_cast<size_t>(channels);
  std::vector<int16_t> samples;
  std::vector<int16_t> frame(static_cast<size_t>(channels));
  for (size_t offset = 0; offset + frame_bytes <= bytes.size(); offset += frame_bytes) {
    std::memcpy(frame.data(), bytes.data() + offset, frame_bytes);
    bool silent = true;
    for (int16_t sample : frame) {
      silent = silent && sample == 0;
    }
    if (!silent) {
      samples.insert(samples.end(), frame.begin(), frame.end());
    }
  }
  return samples;
}

}  // namespace platform_test
