#include "audio/platform/sdl_audio_system.h"

#include <mutex>

#include <SDL.h>
#include <dlfcn.h>

namespace sdl_platform {
namespace {

void DiscardSdlLog(void*, int, SDL_LogPriority, const char*) {}

// The shape of ALSA's snd_lib_error_handler_t, declared here so that no ALSA headers are
// needed.
void DiscardAlsaError(const char*, int, const char*, int, const char*, ...) {}
using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
using AlsaSetErrorHandler = int (*)(AlsaErrorHandler);

// ALSA prints its own errors (a machine with no sound card) straight to standard error, where
// they would scribble over the full-screen interface. SDL loads the library itself later; the
// handle opened here is kept so the handler stays with the library.
void SilenceAlsa() {
  void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
  if (alsa == nullptr) {
    return;
  }
  auto set_handler =
      reinterpret_cast<AlsaSetErrorHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
  if (set_handler != nullptr) {
    set_handler(DiscardAlsaError);
  }
}

void SilenceOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    SDL_LogSetOutputFunction(DiscardSdlLog, nullptr);
    // Initialising audio also brings up SDL's events, which would otherwise catch SIGINT and
    // SIGTERM for themselves.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SilenceAlsa();
  });
}

}  // namespace

bool InitSdlAudioOnce() {
  static std::mutex mutex;
  static bool initialised = false;
  std::lock_guard<std::mutex> lock(mutex);
  if (initialised) {
    return true;
  }
  SilenceOnce();
  initialised = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  return initialised;
}

}  // namespace sdl_platform
