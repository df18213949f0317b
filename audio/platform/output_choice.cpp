// Which output plays a queue.

#include <cstdlib>
#include <cstring>

#include "audio/platform/output_queue.h"
#include "audio/platform/pipewire_connection.h"
#include "audio/platform/pipewire_output.h"
#include "audio/platform/pulse_connection.h"
#include "audio/platform/pulse_output.h"
#include "audio/platform/sdl_output.h"

namespace output_queue {
namespace {

// Stands in for the stream of a queue made while the server is away. The queue's thread
// replaces it as it replaces a lost stream; nothing is heard meanwhile, so the clock stands
// still.
class AwaitedOutput final : public AudioOutput {
 public:
  OSStatus Start() override { return noErr; }
  OSStatus Pause() override { return noErr; }
  void Flush() override {}
  void Wake() override {}
  UInt64 HeardFrames() override { return 0; }
};

// The tests play through one protocol of a server that speaks both: BREVALO_TEST_OUTPUT names
// it, "pipewire" or "pulse". Unset, both are tried.
bool Allowed(const char* protocol) {
  const char* forced = std::getenv("BREVALO_TEST_OUTPUT");
  return forced == nullptr || *forced == '\0' || std::strcmp(forced, protocol) == 0;
}

// The desktop's sound server through its own protocol: PipeWire's where its socket answers,
// PulseAudio's otherwise (a PulseAudio daemon, or PipeWire's Pulse service).
std::unique_ptr<AudioOutput> OpenServerOutput(OpaqueAudioQueue& queue) {
  if (Allowed("pipewire")) {
    if (auto output = pipewire_platform::OpenPipeWireOutput(queue)) {
      return output;
    }
  }
  if (Allowed("pulse")) {
    return pulse_platform::OpenPulseOutput(queue);
  }
  return nullptr;
}

}  // namespace

// The desktop's sound server first, through its own client: large buffers, a pause the server
// holds, a drain at the end. SDL's output serves a machine without a server (it finds ALSA),
// and anyone who names one of its drivers in SDL_AUDIODRIVER, the tests' file-writing driver
// among them.
std::unique_ptr<AudioOutput> OpenAudioOutput(OpaqueAudioQueue& queue) {
  const char* sdl_driver = std::getenv("SDL_AUDIODRIVER");
  if (sdl_driver == nullptr || *sdl_driver == '\0') {
    if (auto output = OpenServerOutput(queue)) {
      return output;
    }
    // The server this program has played through is restarting: the track waits for it, as a
    // playing one does, rather than take the sound card from it through ALSA.
    if (OutputServerIsAway()) {
      LoseOutput(queue);
      return std::make_unique<AwaitedOutput>();
    }
  }
  return sdl_platform::OpenSdlOutput(queue);
}

std::unique_ptr<AudioOutput> ReopenAudioOutput(OpaqueAudioQueue& queue) {
  return OpenServerOutput(queue);
}

bool OutputServerIsAway() {
  return pipewire_platform::GraphIsAway() || pulse_platform::ServerIsAway();
}

}  // namespace output_queue
