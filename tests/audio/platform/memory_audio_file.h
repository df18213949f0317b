#pragma once

// Test access to the real audio-file operations over bytes held in memory, as the engine uses
// them: open through the callbacks, read properties, decode to 16-bit PCM.

#include <map>
#include <string>
#include <vector>

#include "audio/platform/audio_platform.h"

namespace platform_test {

// The file's five info texts, or nothing under a key the dictionary lacks. `fits` tells, per key,
// whether CFStringGetCString converted it into a 512-byte buffer.
struct InfoTexts {
  std::map<std::string, std::string> values;
  std::map<std::string, bool> fits;
};

// One audio file opened from memory, with its decoder once asked for. Closes both on destruction.
class MemoryAudioFile {
 public:
  explicit MemoryAudioFile(std::string bytes) : bytes_(std::move(bytes)) {}
  ~MemoryAudioFile();
  MemoryAudioFile(const MemoryAudioFile&) = delete;
  MemoryAudioFile& operator=(const MemoryAudioFile&) = delete;

  // AudioFileOpenWithCallbacks with the MP3 hint, whatever the content.
  OSStatus Open();
  InfoTexts Info();
  UInt64 PacketCount();
  // Wraps a decoder and returns its file format.
  AudioStreamBasicDescription FileFormat();
  // Sets 16-bit signed interleaved PCM at the file's rate and channels as the client format.
  OSStatus UseClientPcm();
  // One ExtAudioFileRead of up to `frames` frames, appended to `samples`; the frames read.
  UInt32 Read(UInt32 frames, std::vector<int16_t>& samples, OSStatus* status = nullptr);
  // Reads until a read gives 0 frames, `chunk_frames` at a time (varied by `chunk_step` on each
  // read, so that reads do not line up with the decoder's frames); every status must be 0.
  std::vector<int16_t> ReadAll(UInt32 chunk_frames, UInt32 chunk_step = 0);

  std::string& bytes() { return bytes_; }
  AudioFileID file() const { return file_; }
  ExtAudioFileRef decoder() const { return decoder_; }
  UInt32 channels() const { return format_.mChannelsPerFrame; }
  // The end of the farthest byte range the platform has read so far.
  size_t read_end() const { return read_end_; }

 private:
  static OSStatus ReadBytes(void* self, SInt64 position, UInt32 count, void* destination,
                            UInt32* actual);
  static SInt64 Size(void* self);

  std::string bytes_;
  AudioFileID file_ = nullptr;
  ExtAudioFileRef decoder_ = nullptr;
  AudioStreamBasicDescription format_{};
  size_t read_end_ = 0;
};

}  // namespace platform_test
