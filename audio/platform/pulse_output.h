#pragma once

// The output of a queue as a stream on the desktop's sound server: a large server-side buffer,
// the server's own pause (a corked stream), a flush at a stop, a drain at the end, and a clock
// that takes the server's latency off.

#include <memory>

#include "audio/platform/output_queue.h"

namespace pulse_platform {

// A stream for `queue` on the sound server, corked until the queue starts; null when no server
// answers or the server refuses the format.
std::unique_ptr<output_queue::AudioOutput> OpenPulseOutput(OpaqueAudioQueue& queue);

}  // namespace pulse_platform
