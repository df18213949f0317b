#pragma once

// The exact length of an audio stream in sample frames.

#include "audio/platform/audio_platform.h"
#include "audio/platform/ffmpeg_demuxer.h"

namespace ffmpeg_platform {

// The frames the stream plays, encoder delay and padding that the file declares excluded.
// Taken from the container's header where it is exact (WAV, FLAC, MP4 edit lists), or from the
// frame headers of a clean MP3 in `source`, the demuxer's bytes; otherwise (other MP3s, whose
// LAME padding only shows on the packets, and headers without a length) counted by demuxing
// every packet, which leaves `demuxer` at the end: `*out_consumed` is then true. Fails when no
// packet of the stream is found.
OSStatus CountFrames(Demuxer& demuxer, const ByteSource& source, UInt64* out_frames,
                     bool* out_consumed);

}  // namespace ffmpeg_platform
