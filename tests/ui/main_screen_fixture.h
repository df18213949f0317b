#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/playback_state.h"
#include "browser/file_browser_state.h"
#include "tests/audio/fake_engine_test.h"
#include "tui/component/component.h"
#include "tui/component/screen_interactive.h"
#include "tui/screen/screen.h"
#include "ui/main_screen.h"

namespace ui_test {

// The main screen over the fake platform, as main assembles it, on a screen of a chosen size.
class MainScreenTest : public engine_test::FakeEngineTest {
 protected:
  void TearDown() override;

  // Writes fake tracks of `seconds` with `tags`, lists the folder and builds the component tree.
  std::string AddTrack(const std::string& name, const std::map<std::string, std::string>& tags,
                       double seconds = 10);
  void Open(int width = 80, int height = 24);

  // One frame, drawn off-screen.
  tui::Screen Frame();
  std::vector<std::string> FrameLines() { return Frame().Lines(); }

  // Plays `name` as Return in the browser would, and draws frames until it plays.
  void Choose(const std::string& name);
  // Draws frames until `done` holds; false after a patience that only ends a broken test.
  bool FrameUntil(const std::function<bool()>& done);
  void SetPlayedSeconds(double seconds);
  // Plays the queue's buffers, a frame after each, until the heard track changes; waits for the
  // loader where the queue has nothing to play.
  void PlayUntilTheHeardTrackChanges();

  int RowOf(const std::string& name) const;

  // Gone before the fake is checked: its loader's readers end with it.
  std::unique_ptr<PlaybackState> owned_playback_ = std::make_unique<PlaybackState>();
  PlaybackState& playback_ = *owned_playback_;
  FileBrowserState browser_;
  std::function<void(const std::string&)> on_select_;
  tui::Component browser_component_;
  std::unique_ptr<tui::ScreenInteractive> screen_;
  tui::Component root_;
};

}  // namespace ui_test
