#pragma once

// What a PipeWire stream tells the graph about the PCM it plays, and how it wants to be
// scheduled.

#include <pipewire/pipewire.h>
#include <spa/pod/builder.h>

#include "audio/platform/audio_platform.h"

namespace pipewire_platform {

// The graph's largest quantum by default (46 ms at 44.1 kHz): the stream asks for it, so that
// the graph wakes as seldom as its server allows while the stream plays.
constexpr UInt32 kQuantumFrames = 2048;

// The properties of a stream of music in `format`: its role, its latency, and its rate as the
// graph's, so that a server that allows the rate runs at it rather than resample.
pw_properties* StreamProperties(const AudioStreamBasicDescription& format);

// The stream's one format, built with `builder`: 16-bit signed interleaved PCM at the queue's
// rate, its channels at the positions of FFmpeg's default layout for their count, which the
// decoder delivers. Null when `builder` has no room.
const spa_pod* StreamFormat(spa_pod_builder& builder, const AudioStreamBasicDescription& format);

}  // namespace pipewire_platform
