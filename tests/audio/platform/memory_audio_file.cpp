#include "tests/audio/platform/memory_audio_file.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "audio/track.h"

namespace platform_test {

MemoryAudioFile::~MemoryAudioFile() {
  if (decoder_ != nullptr) {
    EXPECT_EQ(ExtAudioFileDispose(decoder_), noErr);
  }
  if (file_ != nullptr) {
    EXPECT_EQ(AudioFileClose(file_), noErr);
  }
}

OSStatus MemoryAudioFile::ReadBytes(void* self, SInt64 position, UInt32 count, void* destination,
                                    UInt32* actual) {
  auto* file = static_cast<MemoryAudioFile*>(self);
  const std::string& bytes = file->bytes_;
  *actual = 0;
  if (position < 0 || position >= static_cast<SInt64>(bytes.size())) {
    return noErr;
  }
  *actual = static_cast<UInt32>(std::min<size_t>(count, bytes.size() - position));
  std::memcpy(destination, bytes.data() + position, *actual);
  file->read_end_ = std::max(file->read_end_, static_cast<size_t>(position) + *actual);
  return noErr;
}

SInt64 MemoryAudioFile::Size(void* self) {
  return static_cast<SInt64>(static_cast<MemoryAudioFile*>(self)->bytes_.size());
}

OSStatus MemoryAudioFile::Open() {
  return AudioFileOpenWithCallbacks(this, ReadBytes, nullptr, Size, nullptr, kAudioFileMP3Type,
                                    &file_);
}

InfoTexts MemoryAudioFile::Info() {
  InfoTexts texts;
  CFDictionaryRef dictionary = nullptr;
  UInt32 size = sizeof dictionary;
  EXPECT_EQ(AudioFileGetProperty(file_, kAudioFilePropertyInfoDictionary, &size, &dictionary),
            noErr);
  if (dictionary == nullptr) {
    ADD_FAILURE() << "no info dictionary";
    return texts;
  }
  for (const char* key :
       {kAFInfoDictionary_Title, kAFInfoDictionary_Artist, kAFInfoDictionary_Album,
        kAFInfoDictionary_Year, kAFInfoDictionary_Genre}) {
    const void* value = CFDictionaryGetValue(dictionary, key);
    if (value == nullptr) {
      continue;
    }
    char buffer[512];
    const bool fits = CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer,
                                         kCFStringEncodingUTF8);
    texts.fits[key] = fits;
    texts.values[key] = fits ? buffer : "";
  }
  CFRelease(dictionary);
  return texts;
}

UInt64 MemoryAudioFile::PacketCount() {
  UInt64 count = 0;
  UInt32 size = sizeof count;
  EXPECT_EQ(AudioFileGetProperty(file_, kAudioFilePropertyAudioDataPacketCount, &size, &count),
            noErr);
  return count;
}

AudioStreamBasicDescription MemoryAudioFile::FileFormat() {
  if (decoder_ == nullptr) {
    EXPECT_EQ(ExtAudioFileWrapAudioFileID(file_, false, &decoder_), noErr);
  }
  UInt32 size = sizeof format_;
  EXPECT_EQ(
      ExtAudioFileGetProperty(decoder_, kExtAudioFileProperty_FileDataFormat, &size, &format_),
      noErr);
  return format_;
}

OSStatus MemoryAudioFile::UseClientPcm() {
  const AudioStreamBasicDescription file_format = FileFormat();
  const AudioStreamBasicDescription client = ClientFormatFor(file_format);
  return ExtAudioFileSetProperty(decoder_, kExtAudioFileProperty_ClientDataFormat, sizeof client,
                                 &client);
}

UInt32 MemoryAudioFile::Read(UInt32 frames, std::vector<int16_t>& samples, OSStatus* status) {
  const size_t start = samples.size();
  samples.resize(start + static_cast<size_t>(frames) * channels());
  AudioBufferList list{1, {{channels(), frames * 2 * channels(), samples.data() + start}}};
  UInt32 read = frames;
  const OSStatus result = ExtAudioFileRead(decoder_, &read, &list);
  if (status != nullptr) {
    *status = result;
  }
  samples.resize(start + static_cast<size_t>(read) * channels());
  return read;
}

std::vector<int16_t> MemoryAudioFile::ReadAll(UInt32 chunk_frames, UInt32 chunk_step) {
  std::vector<int16_t> samples;
  for (UInt32 read_number = 0;; ++read_number) {
    const UInt32 chunk = chunk_frames + (read_number * chunk_step) % 4099;
    OSStatus status = noErr;
    if (Read(chunk, samples, &status) == 0) {
      EXPECT_EQ(status, noErr);
      break;
    }
    EXPECT_EQ(status, noErr);
  }
  return samples;
}

}  // namespace platform_test
