#pragma once

// SDL's audio subsystem, brought up once for the whole process.

namespace sdl_platform {

// Initialises SDL's audio (honouring SDL_AUDIODRIVER) the first time it succeeds; thread-safe.
// Before that, SDL's log output and the ALSA library's error messages are silenced, and SDL is
// told to leave the process's signal handlers alone. False when no audio driver starts.
bool InitSdlAudioOnce();

}  // namespace sdl_platform
