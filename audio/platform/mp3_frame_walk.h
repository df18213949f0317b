#pragma once

// The exact length of a clean MP3 read from its frame headers alone, without demuxing it.

#include "audio/platform/audio_platform.h"
#include "audio/platform/ffmpeg_memory_io.h"

namespace ffmpeg_platform {

// The frames that the decoder delivers for an MP3 of `sample_rate` in `source`, its LAME delay
// and padding excluded: every frame header is walked, and the LAME tag's delay and padding are
// taken off. False for anything else than an unbroken run of MPEG Layer III frames of one rate
// and channel count behind a LAME tag whose frame count agrees, optionally behind ID3v2 tags and
// before an ID3v1 tag; such files (truncated, joined, resynced, tagged otherwise) are counted
// by demuxing.
bool WalkMp3Frames(const ByteSource& source, int sample_rate, UInt64* out_frames);

}  // namespace ffmpeg_platform
