#pragma once

// The program's load path, end to end, for inputs that may be anything: load a file as the
// engine does, decode every frame as the Player would, close it. Shared by the fuzzer and by
// the test that replays the inputs the fuzzer once failed on.

#include <string>

#include "audio/platform/audio_platform.h"

namespace fuzz {

// What one pass over a file found.
struct LoadPathResult {
  bool loaded = false;           // LoadTrack returned 0.
  UInt64 declared_frames = 0;    // The file's length in frames, from its packet count.
  UInt64 decoded_frames = 0;     // Frames that the reads delivered, summed.
  UInt32 reads = 0;              // Reads made, the last one included.
  OSStatus read_status = noErr;  // The status of the read that ended decoding.
  // Empty, or what a broken promise of the platform looked like (e.g. a read delivering more
  // frames than it was asked for, or failing on damage that it should have skipped).
  std::string broken_promise;
};

// LoadTrack on `path`; when it succeeds, ExtAudioFileRead until a read gives 0 frames or fails
// (read sizes vary, as the decoder's frames and the Player's buffers do not line up); then
// CloseTrack. Decoding stops, with a broken promise, once more frames arrive than the file
// declared, so a decoder that never reaches its end cannot keep it going forever.
LoadPathResult RunLoadPath(const char* path);

}  // namespace fuzz
