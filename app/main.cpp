#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/arguments.h"
#include "app/global_keys.h"
#include "app/main_loop.h"
#include "app/quiet_while_stopped.h"
#include "app/track_selection.h"
#include "audio/failure_line.h"
#include "audio/playback_state.h"
#include "browser/browser_navigation.h"
#include "browser/directory_listing.h"
#include "browser/file_browser_state.h"
#include "browser/playing_row.h"
#include "tui/component/component.h"
#include "tui/component/loop.h"
#include "tui/component/screen_interactive.h"
#include "ui/main_screen.h"

namespace {

void PlayStartFile(PlaybackState& playback, const std::string& start_file) {
  if (!start_file.empty() && !LoadAndPlay(playback, start_file)) {
    std::fputs("Warning: failed to load provided file; continuing with file browser.\n", stderr);
    std::fflush(stderr);
  }
}

void OpenStartFolder(FileBrowserState& browser, const StartArguments& arguments) {
  browser.current_dir = arguments.start_dir;
  if (browser.current_dir.empty()) {
    std::error_code error;
    browser.current_dir = std::filesystem::absolute(".", error).lexically_normal().string();
  }
  browser.entries = ScanDirectory(browser.current_dir);
  if (!arguments.start_file.empty()) {
    MarkPlayingEntry(browser, arguments.start_file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const StartArguments arguments = ResolveArguments(argc, argv);
  if (!arguments.error.empty()) {
    WriteFailureLine("", arguments.error);
    return 1;
  }
  PlaybackState playback;
  PlayStartFile(playback, arguments.start_file);

  FileBrowserState browser;
  OpenStartFolder(browser, arguments);

  const std::function<void(const std::string&)> on_track_selected = OnTrackSelected{playback};
  tui::Component browser_component = MakeFileBrowser(&browser, on_track_selected);
  auto screen = std::make_unique<tui::ScreenInteractive>(tui::ScreenInteractive::Fullscreen());
  tui::Component root = tui::Renderer(
      browser_component, RenderMainScreen{*screen, playback, browser, browser_component});
  root |= tui::CatchEvent(HandleGlobalEvent{browser, playback, *screen});
  screen->SetSuspendHooks(QuietWhileStopped(playback, browser));
  std::unique_ptr<tui::Loop> loop;
  try {
    loop = std::make_unique<tui::Loop>(screen.get(), root);
  } catch (const std::runtime_error& error) {
    StopPlayback(playback);
    std::fprintf(stderr, "brevalo: %s\n", error.what());
    return 1;
  }

  RunMainLoop(*loop, *screen);

  // The audio stops while the interface still shows; then the terminal is given back.
  StopPlayback(playback);
  loop.reset();
  root.reset();
  screen.reset();
  browser_component.reset();
  return 0;
}
