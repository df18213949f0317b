#include "tests/ui/main_screen_fixture.h"

#include <chrono>
#include <thread>

#include "app/global_keys.h"
#include "app/track_selection.h"
#include "browser/browser_navigation.h"
#include "browser/directory_listing.h"
#include "browser/screen_size.h"
#include "tui/dom/node.h"

namespace ui_test {

void MainScreenTest::TearDown() {
  owned_playback_.reset();
  g_screen_width = 0;
  g_screen_height = 0;
  FakeEngineTest::TearDown();
}

std::string MainScreenTest::AddTrack(const std::string& name,
                                     const std::map<std::string, std::string>& tags,
                                     double seconds) {
  fake_audio::FakeFileContents contents =
      engine_test::ContentsWithFrames(static_cast<UInt64>(seconds * 44100));
  contents.tags = tags;
  return WriteTrack(name, contents);
}

void MainScreenTest::Open(int width, int height) {
  browser_.current_dir = dir_.path().string();
  browser_.entries = ScanDirectory(browser_.current_dir);
  on_select_ = OnTrackSelected{playback_};
  browser_component_ = MakeFileBrowser(&browser_, on_select_);
  screen_ =
      std::make_unique<tui::ScreenInteractive>(tui::ScreenInteractive::FixedSize(width, height));
  root_ = tui::Renderer(browser_component_,
                        RenderMainScreen{*screen_, playback_, browser_, browser_component_});
  root_ |= tui::CatchEvent(HandleGlobalEvent{browser_, playback_, *screen_});
}

tui::Screen MainScreenTest::Frame() {
  tui::Screen screen(screen_->dimx(), screen_->dimy());
  tui::Render(screen, root_->Render());
  return screen;
}

void MainScreenTest::Choose(const std::string& name) {
  on_select_(dir_ / name);
  ASSERT_TRUE(FrameUntil([&] { return playback_.heard.path == dir_ / name; }))
      << name << " did not start";
}

bool MainScreenTest::FrameUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (true) {
    Frame();
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void MainScreenTest::SetPlayedSeconds(double seconds) {
  fake_audio::LastQueue().set_sample_time(seconds * 44100);
}

void MainScreenTest::PlayUntilTheHeardTrackChanges() {
  const std::string heard = playback_.heard.path;
  ASSERT_TRUE(FrameUntil([&] {
    if (playback_.heard.path != heard) {
      return true;
    }
    fake_audio::LastQueue().PlayHeadBuffer();
    return false;
  })) << "the heard track never changed";
}

int MainScreenTest::RowOf(const std::string& name) const {
  for (size_t i = 0; i < browser_.entries.size(); ++i) {
    if (browser_.entries[i].label == name) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace ui_test
