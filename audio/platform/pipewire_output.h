#pragma once

// The output of a queue as a stream on PipeWire's graph, through its own protocol: the graph
// pulls a quantum each cycle from the queue's own buffers, a pause takes the stream out of the
// graph, a stop at once flushes it, a drain ends once the graph has the last frame, and the clock
// counts what the graph has handed to its device, from the stream's own position reports. When
// the server goes away, the next stream plays on from that clock. Where BREVALO_PIPEWIRE_LOG names
// a file, each stream appends a line to it as it is lost or closed: its last report, and the
// first frame the graph took from it.

#include <memory>

#include "audio/platform/output_queue.h"

namespace pipewire_platform {

// A stream for `queue` on PipeWire's graph, inactive until the queue starts; null when no
// PipeWire server answers.
std::unique_ptr<output_queue::AudioOutput> OpenPipeWireOutput(OpaqueAudioQueue& queue);

}  // namespace pipewire_platform
