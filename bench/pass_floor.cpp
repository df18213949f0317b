// The floor under the player's idle pass: the main loop's 20 passes a second with nothing in
// them but a look at the terminal, in a process that maps the same libraries as the player. On a
// virtual machine a wakeup costs more the more a process maps, so a figure for the player's own
// pass is its cost less this one, measured beside it. It runs until it is killed.

#include <chrono>
#include <cstdio>
#include <thread>

#include <SDL.h>
#include <curses.h>
#include <pipewire/pipewire.h>
#include <poll.h>
#include <pulse/version.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

int main() {
  // A call into each library, so that the linker keeps every one of them.
  SDL_version sdl{};
  SDL_GetVersion(&sdl);
  std::printf(
      "floor over %s, libavformat %u, libavcodec %u, libswresample %u, libpulse %s, "
      "libpipewire %s, SDL %d.%d, %s\n",
      av_version_info(), avformat_version(), avcodec_version(), swresample_version(),
      pa_get_library_version(), pw_get_library_version(), sdl.major, sdl.minor, curses_version());
  std::fflush(stdout);
  for (;;) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    poll(&input, 1, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}
