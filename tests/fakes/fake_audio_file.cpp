// The fake's audio files and decoders: the file's bytes come through the engine's callbacks,
// the decoder delivers FakePcm frames.

#include "tests/fakes/fake_audio_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "audio/platform/cf_objects.h"
#include "tests/fakes/fake_registry.h"

struct OpaqueAudioFileID {
  void* client_data;
  AudioFile_ReadProc read;
  std::string bytes;  // As read at open; the decoder checks the source still holds them.
  fake_audio::FakeFileContents contents;
  int decoder_count = 0;
};

struct OpaqueExtAudioFile {
  AudioFileID file;
  AudioStreamBasicDescription client_format{};
  bool has_client_format = false;
  UInt64 delivered = 0;  // Frames handed out so far.
};

namespace fake_audio {
namespace {

using internal::EnterCall;
using internal::RecordMisuse;

constexpr UInt32 kOpenReadChunk = 4096;
constexpr SInt64 kLargestFakeFile = 1 << 20;
constexpr std::size_t kRecheckedBytes = 64;

// Live handles; a handle not in here was released (or never made).
struct FileRegistry {
  std::mutex mutex;
  std::set<AudioFileID> files;
  std::set<ExtAudioFileRef> decoders;
  size_t peak_files = 0;
};

// Never destroyed: a loader's reader left inside a stuck read may open or close a file after the
// test program's static objects have gone.
FileRegistry& Registry() {
  static FileRegistry* const registry = new FileRegistry;
  return *registry;
}

bool IsLiveFile(AudioFileID file) {
  std::lock_guard lock(Registry().mutex);
  return Registry().files.count(file) != 0;
}

bool IsLiveDecoder(ExtAudioFileRef decoder) {
  std::lock_guard lock(Registry().mutex);
  return Registry().decoders.count(decoder) != 0;
}

std::string FourCharText(UInt32 code) {
  return {static_cast<char>(code >> 24), static_cast<char>(code >> 16),
          static_cast<char>(code >> 8), static_cast<char>(code)};
}

// The whole content through the read callback, in chunks as a parser would ask for it; checks
// that the callback keeps to its bounds.
bool ReadThroughCallbacks(void* client_data, AudioFile_ReadProc read, SInt64 size,
                          std::string* bytes) {
  std::string chunk(kOpenReadChunk, '\0');
  for (SInt64 position = 0; position < size; position += kOpenReadChunk) {
    UInt32 actual = 0;
    OSStatus status = read(client_data, position, kOpenReadChunk, chunk.data(), &actual);
    auto expected = static_cast<UInt32>(std::min<SInt64>(kOpenReadChunk, size - position));
    if (status != noErr || actual != expected) {
      RecordMisuse("read callback gave " + std::to_string(actual) + " bytes at " +
                   std::to_string(position) + ", expected " + std::to_string(expected));
      return false;
    }
    bytes->append(chunk, 0, actual);
  }
  UInt32 past_end = 1;
  if (read(client_data, size, kOpenReadChunk, chunk.data(), &past_end) != noErr || past_end != 0) {
    RecordMisuse("read callback gave bytes past the end");
    return false;
  }
  return true;
}

AudioStreamBasicDescription FileFormatOf(const FakeFileContents& contents) {
  AudioStreamBasicDescription format{};
  format.mSampleRate = contents.sample_rate;
  format.mFormatID = FourCharCode(".mp3");
  format.mFramesPerPacket = contents.frames_per_packet;
  format.mChannelsPerFrame = contents.channels;
  return format;
}

// Only 16-bit signed packed PCM at the file's own rate and channel count.
bool IsAcceptedClientFormat(const AudioStreamBasicDescription& format,
                            const FakeFileContents& contents) {
  return format.mFormatID == kAudioFormatLinearPCM &&
         format.mFormatFlags == (kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked) &&
         format.mBitsPerChannel == 16 && format.mChannelsPerFrame == contents.channels &&
         format.mBytesPerFrame == 2 * contents.channels &&
         format.mBytesPerPacket == 2 * contents.channels && format.mFramesPerPacket == 1 &&
         format.mSampleRate == contents.sample_rate;
}

// The decoder reads its source again on every read, as a real one does while it plays: a track
// released or reloaded under it shows here (or under AddressSanitizer).
bool SourceStillHolds(const OpaqueAudioFileID& file) {
  std::size_t count = std::min(kRecheckedBytes, file.bytes.size());
  char head[kRecheckedBytes];
  UInt32 actual = 0;
  if (file.read(file.client_data, 0, static_cast<UInt32>(count), head, &actual) != noErr ||
      actual != count || std::memcmp(head, file.bytes.data(), count) != 0) {
    RecordMisuse("the decoder's source bytes changed while it was open");
    return false;
  }
  return true;
}

// How many frames a read may deliver now; -1 when the decoder is to fail.
std::int64_t FramesAvailable(const OpaqueExtAudioFile& decoder) {
  const FakeFileContents& contents = decoder.file->contents;
  UInt64 end = contents.total_frames;
  if (contents.read_error_after_frames >= 0) {
    auto error_point = static_cast<UInt64>(contents.read_error_after_frames);
    if (decoder.delivered >= error_point) {
      return -1;
    }
    end = std::min(end, error_point);
  }
  return static_cast<std::int64_t>(end - std::min(end, decoder.delivered));
}

}  // namespace

namespace internal {

void ResetFiles() {
  std::lock_guard lock(Registry().mutex);
  for (ExtAudioFileRef decoder : Registry().decoders) {
    delete decoder;
  }
  for (AudioFileID file : Registry().files) {
    delete file;
  }
  Registry().decoders.clear();
  Registry().files.clear();
  Registry().peak_files = 0;
}

}  // namespace internal

int OpenFileCount() {
  std::lock_guard lock(Registry().mutex);
  return static_cast<int>(Registry().files.size());
}

int PeakOpenFileCount() {
  std::lock_guard lock(Registry().mutex);
  return static_cast<int>(Registry().peak_files);
}

int OpenDecoderCount() {
  std::lock_guard lock(Registry().mutex);
  return static_cast<int>(Registry().decoders.size());
}

}  // namespace fake_audio

using fake_audio::Registry;
using fake_audio::internal::EnterCall;
using fake_audio::internal::RecordMisuse;

OSStatus AudioFileOpenWithCallbacks(void* client_data, AudioFile_ReadProc read,
                                    AudioFile_WriteProc write, AudioFile_GetSizeProc get_size,
                                    AudioFile_SetSizeProc set_size, AudioFileTypeID type_hint,
                                    AudioFileID* out_file) {
  if (OSStatus status = EnterCall(fake_audio::Op::kAudioFileOpenWithCallbacks,
                                  fake_audio::FourCharText(type_hint));
      status != noErr) {
    return status;
  }
  if (read == nullptr || get_size == nullptr || write != nullptr || set_size != nullptr ||
      out_file == nullptr) {
    RecordMisuse("AudioFileOpenWithCallbacks needs read and get-size callbacks only");
    return kAudio_ParamError;
  }
  SInt64 size = get_size(client_data);
  if (size <= 0 || size > fake_audio::kLargestFakeFile) {
    return kAudioFileInvalidFileError;
  }
  auto file = std::make_unique<OpaqueAudioFileID>();
  file->client_data = client_data;
  file->read = read;
  if (!fake_audio::ReadThroughCallbacks(client_data, read, size, &file->bytes)) {
    return kAudioFileInvalidFileError;
  }
  if (!fake_audio::DecodeFakeFile(file->bytes, &file->contents)) {
    return kAudioFileUnsupportedFileTypeError;
  }
  std::lock_guard lock(Registry().mutex);
  *out_file = file.release();
  Registry().files.insert(*out_file);
  Registry().peak_files = std::max(Registry().peak_files, Registry().files.size());
  return noErr;
}

OSStatus AudioFileGetProperty(AudioFileID file, AudioFilePropertyID property, UInt32* io_size,
                              void* out_data) {
  if (OSStatus status =
          EnterCall(fake_audio::Op::kAudioFileGetProperty, fake_audio::FourCharText(property));
      status != noErr) {
    return status;
  }
  if (!fake_audio::IsLiveFile(file)) {
    RecordMisuse("AudioFileGetProperty on a file that is not open");
    return kAudio_ParamError;
  }
  if (io_size == nullptr || *io_size != 8 || out_data == nullptr) {
    return kAudioFileBadPropertySizeError;
  }
  if (property == kAudioFilePropertyInfoDictionary) {
    if (!file->contents.has_info_dictionary) {
      return kAudioFileUnsupportedPropertyError;
    }
    *static_cast<CFDictionaryRef*>(out_data) = CreateInfoDictionary(file->contents.tags);
    return noErr;
  }
  if (property == kAudioFilePropertyAudioDataPacketCount) {
    *static_cast<UInt64*>(out_data) = file->contents.packet_count;
    return noErr;
  }
  return kAudioFileUnsupportedPropertyError;
}

OSStatus AudioFileClose(AudioFileID file) {
  if (OSStatus status = EnterCall(fake_audio::Op::kAudioFileClose); status != noErr) {
    return status;
  }
  std::lock_guard lock(Registry().mutex);
  if (Registry().files.erase(file) == 0) {
    RecordMisuse("AudioFileClose on a file that is not open");
    return kAudio_ParamError;
  }
  if (file->decoder_count != 0) {
    RecordMisuse("AudioFileClose while a decoder still reads the file");
  }
  delete file;
  return noErr;
}

OSStatus ExtAudioFileWrapAudioFileID(AudioFileID file, Boolean for_writing,
                                     ExtAudioFileRef* out_decoder) {
  if (OSStatus status = EnterCall(fake_audio::Op::kExtAudioFileWrapAudioFileID); status != noErr) {
    return status;
  }
  if (for_writing || out_decoder == nullptr || !fake_audio::IsLiveFile(file)) {
    RecordMisuse("ExtAudioFileWrapAudioFileID needs an open file, for reading");
    return kAudio_ParamError;
  }
  std::lock_guard lock(Registry().mutex);
  ++file->decoder_count;
  *out_decoder = new OpaqueExtAudioFile{file};
  Registry().decoders.insert(*out_decoder);
  return noErr;
}

OSStatus ExtAudioFileGetProperty(ExtAudioFileRef decoder, ExtAudioFilePropertyID property,
                                 UInt32* io_size, void* out_data) {
  if (OSStatus status =
          EnterCall(fake_audio::Op::kExtAudioFileGetProperty, fake_audio::FourCharText(property));
      status != noErr) {
    return status;
  }
  if (!fake_audio::IsLiveDecoder(decoder)) {
    RecordMisuse("ExtAudioFileGetProperty on a disposed decoder");
    return kAudio_ParamError;
  }
  if (property != kExtAudioFileProperty_FileDataFormat) {
    return kAudioFileUnsupportedPropertyError;
  }
  if (io_size == nullptr || *io_size != sizeof(AudioStreamBasicDescription) ||
      out_data == nullptr) {
    return kAudioFileBadPropertySizeError;
  }
  *static_cast<AudioStreamBasicDescription*>(out_data) =
      fake_audio::FileFormatOf(decoder->file->contents);
  return noErr;
}

OSStatus ExtAudioFileSetProperty(ExtAudioFileRef decoder, ExtAudioFilePropertyID property,
                                 UInt32 size, const void* data) {
  if (OSStatus status =
          EnterCall(fake_audio::Op::kExtAudioFileSetProperty, fake_audio::FourCharText(property));
      status != noErr) {
    return status;
  }
  if (!fake_audio::IsLiveDecoder(decoder)) {
    RecordMisuse("ExtAudioFileSetProperty on a disposed decoder");
    return kAudio_ParamError;
  }
  if (property != kExtAudioFileProperty_ClientDataFormat) {
    return kAudioFileUnsupportedPropertyError;
  }
  if (size != sizeof(AudioStreamBasicDescription) || data == nullptr) {
    return kAudioFileBadPropertySizeError;
  }
  const auto& format = *static_cast<const AudioStreamBasicDescription*>(data);
  if (!fake_audio::IsAcceptedClientFormat(format, decoder->file->contents)) {
    return kAudioFileUnsupportedPropertyError;
  }
  decoder->client_format = format;
  decoder->has_client_format = true;
  return noErr;
}

// Runs on the queue's thread; touches only the decoder and its source, as a real one does.
OSStatus ExtAudioFileRead(ExtAudioFileRef decoder, UInt32* io_frames, AudioBufferList* io_data) {
  if (OSStatus status = EnterCall(fake_audio::Op::kExtAudioFileRead, std::to_string(*io_frames));
      status != noErr) {
    *io_frames = 0;
    return status;
  }
  const fake_audio::FakeFileContents& contents = decoder->file->contents;
  if (!decoder->has_client_format || io_data->mNumberBuffers != 1 ||
      io_data->mBuffers[0].mNumberChannels != contents.channels) {
    RecordMisuse("ExtAudioFileRead without a client format or with a wrong buffer list");
    *io_frames = 0;
    return kAudio_ParamError;
  }
  std::int64_t available = fake_audio::FramesAvailable(*decoder);
  if (available < 0 || !fake_audio::SourceStillHolds(*decoder->file)) {
    *io_frames = 0;
    return kAudioFileInvalidFileError;
  }
  UInt32 bytes_per_frame = decoder->client_format.mBytesPerFrame;
  UInt32 room = bytes_per_frame == 0 ? 0 : io_data->mBuffers[0].mDataByteSize / bytes_per_frame;
  auto count = static_cast<UInt32>(std::min<std::int64_t>(std::min(*io_frames, room), available));
  std::vector<std::int16_t> samples = fake_audio::FakePcm(contents, decoder->delivered, count);
  if (count > 0) {
    std::memcpy(io_data->mBuffers[0].mData, samples.data(), samples.size() * sizeof(std::int16_t));
  }
  decoder->delivered += count;
  *io_frames = count;
  return noErr;
}

OSStatus ExtAudioFileDispose(ExtAudioFileRef decoder) {
  if (OSStatus status = EnterCall(fake_audio::Op::kExtAudioFileDispose); status != noErr) {
    return status;
  }
  std::lock_guard lock(Registry().mutex);
  if (Registry().decoders.erase(decoder) == 0) {
    RecordMisuse("ExtAudioFileDispose on a decoder that is not open");
    return kAudio_ParamError;
  }
  --decoder->file->decoder_count;
  delete decoder;
  return noErr;
}
