// Which output plays a queue.

#include <cstdlib>

#include "audio/platform/output_queue.h"
#include "audio/platform/pulse_output.h"
#include "audio/platform/sdl_output.h"

namespace output_queue {

// The desktop's sound server first, through its own client: large buffers, a corked pause, a
// drain at the end. SDL's output serves a machine without a server (it finds ALSA), and anyone
// who names one of its drivers in SDL_AUDIODRIVER, the tests' file-writing driver among them.
std::unique_ptr<AudioOutput> OpenAudioOutput(OpaqueAudioQueue& queue) {
  const char* sdl_driver = std::getenv("SDL_AUDIODRIVER");
  if (sdl_driver == nullptr || *sdl_driver == '\0') {
    if (auto output = pulse_platform::OpenPulseOutput(queue)) {
      return output;
    }
  }
  return sdl_platform::OpenSdlOutput(queue);
}

std::unique_ptr<AudioOutput> ReopenAudioOutput(OpaqueAudioQueue& queue) {
  return pulse_platform::OpenPulseOutput(queue);
}

}  // namespace output_queue
