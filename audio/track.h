#pragma once

#include <functional>
#include <memory>
#include <string>

#include "audio/platform/audio_platform.h"

// The five tag texts of a file, UTF-8, each empty when the file has no such tag.
struct TrackMetadata {
  std::string title;
  std::string artist;
  std::string album;
  std::string year;
  std::string genre;
};

// An audio file held whole in memory with its decoder. Its address is the client data of its
// open audio file, so a loaded track is never moved or copied.
struct AudioTrack {
  unsigned char* data = nullptr;  // malloc'd file bytes, owned; null when none.
  SInt64 size = 0;
  ExtAudioFileRef decoder = nullptr;
  AudioFileID audio_file = nullptr;
  AudioStreamBasicDescription client_format{};  // The PCM format frames are decoded in.
  Float64 duration = 0;                         // Seconds.
  TrackMetadata metadata;
};

// Reads the file at `path` into `track`, opens it from memory, reads its tags and length and
// sets 16-bit PCM as the client format. 0 when ready to play, -1 on any failure (the track then
// holds no data, decoder or audio file). A track that holds data must be closed first. The
// failures to open or read the file are written to standard error, as perror writes them.
int LoadTrack(AudioTrack* track, const char* path);

// How a load off the main thread reads: what it does with its failure lines, and whether it is
// still wanted.
struct LoadControl {
  // Asked between the stretches of the file that are read: false abandons the read at once.
  // A file on a share takes seconds, and whoever asked for it may have moved on meanwhile.
  std::function<bool()> still_wanted;
  // The lines LoadTrack would write to standard error, each with its newline, for whoever
  // acts on the failure to write when it matters. Null: written at once.
  std::string* failure_lines = nullptr;
};

// LoadTrack under `control`. -1 also when the read was abandoned, with no failure line.
int LoadTrack(AudioTrack* track, const char* path, const LoadControl& control);

// The PCM format tracks are decoded in: 16-bit signed interleaved samples at the file's own rate
// and channel count, so nothing is resampled or mixed down, except the frames of a file whose
// format changes midway, which the decoder converts to this one.
AudioStreamBasicDescription ClientFormatFor(const AudioStreamBasicDescription& file_format);

// Decodes the next stretch of `track` into `buffer`, as much as it holds, and sets the bytes to
// play: the frames decoded, 0 at the end of the data or on a read error. On whichever thread
// decodes the track.
UInt32 DecodeTrackInto(AudioTrack* track, AudioQueueBuffer* buffer);

// Releases the decoder, the audio file and the bytes; the texts, size, duration and format of
// the last load stay.
void CloseTrack(AudioTrack* track);

// A loaded track on the heap, where its address stays put; closed and freed with its owner.
struct TrackCloser {
  void operator()(AudioTrack* track) const;
};
using OwnedTrack = std::unique_ptr<AudioTrack, TrackCloser>;

// The read callback over the track's bytes: a bounded copy, status 0 even when nothing is
// copied. Runs on whichever thread the decoder reads on.
OSStatus ReadTrackBytes(void* track, SInt64 position, UInt32 request_count, void* destination,
                        UInt32* actual_count);

// The get-size callback: the track's byte count.
SInt64 GetTrackSize(void* track);
