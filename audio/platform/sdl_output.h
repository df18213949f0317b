#pragma once

// The output of a queue through an SDL audio device: the fallback for a machine without a sound
// server (SDL finds ALSA), and SDL's headless drivers for the tests.

#include <memory>

#include "audio/platform/output_queue.h"

namespace sdl_platform {

// A paused SDL device in the queue's format; null when no driver opens one.
std::unique_ptr<output_queue::AudioOutput> OpenSdlOutput(OpaqueAudioQueue& queue);

}  // namespace sdl_platform
