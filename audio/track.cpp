#include "audio/track.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr CFIndex kTagBufferSize = 512;
// A file is read in stretches of this size, so that a read nobody wants any more stops within
// one of them: on a share that serves 0.5 MB/s, about half a second.
constexpr size_t kReadStretch = size_t{256} << 10;
// The size of a huge page on x86-64 and arm64.
constexpr size_t kHugePage = size_t{2} << 20;

// Writes `what`, ": " and the text of errno as perror does, or keeps the line for the caller.
void ReportFailure(const char* what, const LoadControl& control) {
  if (control.failure_lines == nullptr) {
    perror(what);
    return;
  }
  char text[256];
  control.failure_lines->append(what).append(": ").append(strerror_r(errno, text, sizeof(text)));
  control.failure_lines->push_back('\n');
}

// The errno that tells why a path that is no regular file cannot be played.
int ErrorForNonRegularFile(mode_t mode) {
  if (S_ISFIFO(mode) || S_ISSOCK(mode)) {
    return ESPIPE;  // An endless stream: it has no size to read whole.
  }
  return ENOTSUP;  // A device: nothing this program plays.
}

// Opens `path` for reading as fopen(path, "rb") would, but refuses, without blocking, anything
// that is not a regular file: a FIFO would block the interface in open and a device would be read
// forever. Reports the failure and returns null.
FILE* OpenRegularFile(const char* path, const LoadControl& control) {
  // O_NONBLOCK keeps open() from waiting for a FIFO's writer; O_NOCTTY keeps a terminal device
  // from becoming ours.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    ReportFailure("Failed to open file", control);
    return nullptr;
  }
  struct stat info {};
  const char* failure = nullptr;
  if (fstat(fd, &info) != 0) {
    failure = "Failed to open file";
  } else if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    failure = "Failed to read file";
  } else if (!S_ISREG(info.st_mode)) {
    errno = ErrorForNonRegularFile(info.st_mode);
    failure = "Failed to open file";
  } else {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      failure = "Failed to open file";
    }
  }
  FILE* file = failure == nullptr ? fdopen(fd, "rb") : nullptr;
  if (file == nullptr) {
    int saved = errno;
    close(fd);
    errno = saved;
    ReportFailure(failure != nullptr ? failure : "Failed to open file", control);
  }
  return file;
}

// The file's size, or -1 when it cannot be told; leaves the file at its start.
SInt64 MeasureFile(FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) {
    return -1;
  }
  long size = std::ftell(file);
  if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    return -1;
  }
  return size;
}

// A block for `size` file bytes, freed with free(). A file of some megabytes would otherwise
// take a page fault every 4 KiB on its first read, which on a virtual machine costs more than
// the read itself; in huge pages it takes one every 2 MiB. Where the kernel has no huge pages
// the block is an ordinary one.
unsigned char* AllocateFileBlock(size_t size) {
  if (size < kHugePage) {
    return static_cast<unsigned char*>(std::malloc(std::max<size_t>(size, 1)));
  }
  const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* block = std::aligned_alloc(kHugePage, rounded);
  if (block != nullptr) {
    madvise(block, rounded, MADV_HUGEPAGE);
  }
  return static_cast<unsigned char*>(block);
}

// Reads `size` bytes into `data`, a stretch at a time, while the read is still wanted. False on
// a short read (errno set) or when abandoned (`abandoned` set).
bool ReadStretches(FILE* file, unsigned char* data, size_t size, const LoadControl& control,
                   bool& abandoned) {
  size_t done = 0;
  while (done < size) {
    if (control.still_wanted && !control.still_wanted()) {
      abandoned = true;
      return false;
    }
    const size_t stretch = std::min(kReadStretch, size - done);
    errno = 0;
    const size_t read = std::fread(data + done, 1, stretch, file);
    done += read;
    if (read != stretch) {
      if (errno == 0) {
        errno = EIO;  // The file shrank under us: a short read sets no errno of its own.
      }
      return false;
    }
  }
  return true;
}

// Reads the whole file into track->data. Reports and releases on failure; an abandoned read
// reports nothing.
bool ReadWholeFile(AudioTrack* track, FILE* file, const LoadControl& control) {
  track->size = MeasureFile(file);
  bool ok = false;
  bool abandoned = false;
  if (track->size >= 0) {
    // At least one byte, so that an empty file still gets a block and fails later as undecodable
    // rather than as an allocation failure.
    auto byte_count = static_cast<size_t>(track->size);
    track->data = AllocateFileBlock(byte_count);
    ok = track->data != nullptr && ReadStretches(file, track->data, byte_count, control, abandoned);
  }
  if (!ok && !abandoned) {
    ReportFailure("Failed to read file", control);
  }
  std::fclose(file);
  if (!ok) {
    std::free(track->data);
    track->data = nullptr;
  }
  return ok;
}

// The tag under `value`, or empty when absent or too long for the tag buffer.
std::string TagText(const void* value) {
  char buffer[kTagBufferSize];
  if (value != nullptr && CFStringGetCString(static_cast<CFStringRef>(value), buffer,
                                             kTagBufferSize, kCFStringEncodingUTF8)) {
    return buffer;
  }
  return {};
}

// The five tags of the file's info dictionary; empty texts when it has none.
TrackMetadata ReadMetadata(AudioFileID audio_file) {
  TrackMetadata metadata;
  CFDictionaryRef dictionary = nullptr;
  UInt32 size = sizeof(dictionary);
  if (AudioFileGetProperty(audio_file, kAudioFilePropertyInfoDictionary, &size, &dictionary) !=
          noErr ||
      dictionary == nullptr) {
    return metadata;
  }
  const void* title = CFDictionaryGetValue(dictionary, kAFInfoDictionary_Title);
  const void* artist = CFDictionaryGetValue(dictionary, kAFInfoDictionary_Artist);
  const void* album = CFDictionaryGetValue(dictionary, kAFInfoDictionary_Album);
  const void* year = CFDictionaryGetValue(dictionary, kAFInfoDictionary_Year);
  const void* genre = CFDictionaryGetValue(dictionary, kAFInfoDictionary_Genre);
  metadata.title = TagText(title);
  metadata.artist = TagText(artist);
  metadata.album = TagText(album);
  metadata.year = TagText(year);
  metadata.genre = TagText(genre);
  CFRelease(dictionary);
  return metadata;
}

// Releases what a load had acquired, newest first.
void ReleaseTrackHandles(AudioTrack* track) {
  if (track->decoder != nullptr) {
    ExtAudioFileDispose(track->decoder);
    track->decoder = nullptr;
  }
  if (track->audio_file != nullptr) {
    AudioFileClose(track->audio_file);
    track->audio_file = nullptr;
  }
  std::free(track->data);
  track->data = nullptr;
}

// Reads the length and sets the client format on an opened track; false on any failure.
bool PrepareDecoding(AudioTrack* track) {
  UInt64 packet_count = 0;
  UInt32 size = sizeof(packet_count);
  if (AudioFileGetProperty(track->audio_file, kAudioFilePropertyAudioDataPacketCount, &size,
                           &packet_count) != noErr) {
    return false;
  }
  AudioStreamBasicDescription file_format{};
  size = sizeof(file_format);
  if (ExtAudioFileGetProperty(track->decoder, kExtAudioFileProperty_FileDataFormat, &size,
                              &file_format) != noErr) {
    return false;
  }
  track->duration = static_cast<Float64>(static_cast<SInt64>(packet_count)) *
                    static_cast<Float64>(file_format.mFramesPerPacket) / file_format.mSampleRate;
  track->client_format = ClientFormatFor(file_format);
  return ExtAudioFileSetProperty(track->decoder, kExtAudioFileProperty_ClientDataFormat,
                                 sizeof(track->client_format), &track->client_format) == noErr;
}

}  // namespace

AudioStreamBasicDescription ClientFormatFor(const AudioStreamBasicDescription& file_format) {
  AudioStreamBasicDescription format{};
  format.mSampleRate = file_format.mSampleRate;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
  format.mBytesPerPacket = 2 * file_format.mChannelsPerFrame;
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = 2 * file_format.mChannelsPerFrame;
  format.mChannelsPerFrame = file_format.mChannelsPerFrame;
  format.mBitsPerChannel = 16;
  format.mReserved = 0;
  return format;
}

int LoadTrack(AudioTrack* track, const char* path) { return LoadTrack(track, path, {}); }

int LoadTrack(AudioTrack* track, const char* path, const LoadControl& control) {
  if (track == nullptr) {
    return -1;
  }
  track->data = nullptr;
  track->size = 0;
  track->decoder = nullptr;
  track->audio_file = nullptr;
  track->client_format = {};
  track->duration = 0;
  track->metadata = {};

  FILE* file = OpenRegularFile(path, control);
  if (file == nullptr || !ReadWholeFile(track, file, control)) {
    return -1;
  }
  if (AudioFileOpenWithCallbacks(track, ReadTrackBytes, nullptr, GetTrackSize, nullptr,
                                 kAudioFileMP3Type, &track->audio_file) != noErr) {
    track->audio_file = nullptr;
    ReleaseTrackHandles(track);
    return -1;
  }
  if (ExtAudioFileWrapAudioFileID(track->audio_file, false, &track->decoder) != noErr) {
    track->decoder = nullptr;
    ReleaseTrackHandles(track);
    return -1;
  }
  track->metadata = ReadMetadata(track->audio_file);
  if (!PrepareDecoding(track)) {
    ReleaseTrackHandles(track);
    return -1;
  }
  return 0;
}

UInt32 DecodeTrackInto(AudioTrack* track, AudioQueueBuffer* buffer) {
  const AudioStreamBasicDescription& format = track->client_format;
  UInt32 frames =
      format.mBytesPerFrame == 0 ? 0 : buffer->mAudioDataBytesCapacity / format.mBytesPerFrame;
  AudioBufferList list{};
  list.mNumberBuffers = 1;
  list.mBuffers[0].mNumberChannels = format.mChannelsPerFrame;
  list.mBuffers[0].mDataByteSize = buffer->mAudioDataBytesCapacity;
  list.mBuffers[0].mData = buffer->mAudioData;
  if (ExtAudioFileRead(track->decoder, &frames, &list) != noErr) {
    return 0;
  }
  buffer->mAudioDataByteSize = frames * format.mBytesPerFrame;
  return frames;
}

void CloseTrack(AudioTrack* track) {
  if (track == nullptr) {
    return;
  }
  ReleaseTrackHandles(track);
}

void TrackCloser::operator()(AudioTrack* track) const {
  CloseTrack(track);
  delete track;
}

OSStatus ReadTrackBytes(void* track, SInt64 position, UInt32 request_count, void* destination,
                        UInt32* actual_count) {
  const auto* source = static_cast<const AudioTrack*>(track);
  *actual_count = 0;
  if (source->data == nullptr || position < 0 || position >= source->size) {
    return noErr;
  }
  auto count = static_cast<UInt32>(std::min<SInt64>(source->size - position, request_count));
  if (count > 0) {
    std::memcpy(destination, source->data + position, count);
  }
  *actual_count = count;
  return noErr;
}

SInt64 GetTrackSize(void* track) { return static_cast<const AudioTrack*>(track)->size; }
