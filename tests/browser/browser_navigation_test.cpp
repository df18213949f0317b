#include "browser/browser_navigation.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "browser/directory_listing.h"
#include "tests/browser/browser_rows.h"
#include "tests/support/temp_dir.h"
#include "tui/screen/screen.h"

namespace {

using browser_test::RowLabel;
using browser_test::ScreenHeight;
using browser_test::StateWithRows;

void ExpectSameState(const FileBrowserState& actual, const FileBrowserState& expected) {
  ASSERT_EQ(actual.entries.size(), expected.entries.size());
  for (size_t i = 0; i < actual.entries.size(); ++i) {
    EXPECT_EQ(actual.entries[i].label, expected.entries[i].label);
    EXPECT_EQ(actual.entries[i].path, expected.entries[i].path);
    EXPECT_EQ(actual.entries[i].is_directory, expected.entries[i].is_directory);
  }
  EXPECT_EQ(actual.selected, expected.selected);
  EXPECT_EQ(actual.scroll_offset, expected.scroll_offset);
  EXPECT_EQ(actual.current_dir, expected.current_dir);
  EXPECT_EQ(actual.playing_index, expected.playing_index);
  EXPECT_EQ(actual.paused, expected.paused);
  EXPECT_EQ(actual.show_metadata, expected.show_metadata);
  EXPECT_EQ(actual.overlay_metadata.title, expected.overlay_metadata.title);
}

// A mouse report as a terminal sends it in SGR form, with its decoded fields.
tui::Event MouseEvent(tui::Mouse::Button button, tui::Mouse::Motion motion, int y) {
  tui::Mouse mouse;
  mouse.button = button;
  mouse.motion = motion;
  mouse.x = 4;
  mouse.y = y;
  int code = 0;
  switch (button) {
    case tui::Mouse::Left:
      code = 0;
      break;
    case tui::Mouse::Middle:
      code = 1;
      break;
    case tui::Mouse::Right:
      code = 2;
      break;
    case tui::Mouse::None:
      code = 3;
      break;
    case tui::Mouse::WheelUp:
      code = 64;
      break;
    case tui::Mouse::WheelDown:
      code = 65;
      break;
  }
  if (motion == tui::Mouse::Moved) {
    code += 32;
  }
  const std::string input = "\x1b[<" + std::to_string(code) + ";" + std::to_string(mouse.x + 1) +
                            ";" + std::to_string(y + 1) +
                            (motion == tui::Mouse::Released ? "m" : "M");
  return tui::Event::FromMouse(input, mouse);
}

tui::Event LeftPress(int y) { return MouseEvent(tui::Mouse::Left, tui::Mouse::Pressed, y); }

// 100 rows on a 30-row terminal: 21 visible rows.
class BrowserNavigationTest : public ::testing::Test {
 protected:
  bool Send(tui::Event event) { return HandleBrowserEvent{&state_, on_select_}(event); }
  void Place(int selected, int scroll_offset) {
    state_.selected = selected;
    state_.scroll_offset = scroll_offset;
  }
  void ExpectAt(int selected, int scroll_offset) const {
    EXPECT_EQ(state_.selected, selected);
    EXPECT_EQ(state_.scroll_offset, scroll_offset);
  }

  ScreenHeight height_{30};
  FileBrowserState state_ = StateWithRows(100);
  std::vector<std::string> chosen_;
  std::function<void(const std::string&)> on_select_ = [this](const std::string& path) {
    chosen_.push_back(path);
  };
};

TEST_F(BrowserNavigationTest, ArrowsMoveOneRowAndScrollAtTheEdges) {
  Place(20, 0);
  EXPECT_TRUE(Send(tui::Event::ArrowDown));
  ExpectAt(21, 1);

  Place(5, 0);
  EXPECT_TRUE(Send(tui::Event::ArrowDown));
  ExpectAt(6, 0);

  Place(10, 10);
  EXPECT_TRUE(Send(tui::Event::ArrowUp));
  ExpectAt(9, 9);

  Place(15, 10);
  EXPECT_TRUE(Send(tui::Event::ArrowUp));
  ExpectAt(14, 10);
}

TEST_F(BrowserNavigationTest, ArrowsStopAtBothEndsButAreConsumed) {
  Place(99, 79);
  EXPECT_TRUE(Send(tui::Event::ArrowDown));
  ExpectAt(99, 79);

  Place(0, 0);
  EXPECT_TRUE(Send(tui::Event::ArrowUp));
  ExpectAt(0, 0);
}

TEST_F(BrowserNavigationTest, PagesMoveByAWindow) {
  Place(10, 0);
  EXPECT_TRUE(Send(tui::Event::PageDown));
  ExpectAt(31, 11);
  EXPECT_TRUE(Send(tui::Event::PageUp));
  ExpectAt(10, 10);

  Place(95, 75);
  EXPECT_TRUE(Send(tui::Event::PageDown));
  ExpectAt(99, 79);

  Place(5, 3);
  EXPECT_TRUE(Send(tui::Event::PageUp));
  ExpectAt(0, 0);
}

TEST_F(BrowserNavigationTest, EndAndHomeJumpToTheEnds) {
  Place(10, 0);
  EXPECT_TRUE(Send(tui::Event::End));
  ExpectAt(99, 79);
  EXPECT_TRUE(Send(tui::Event::Home));
  ExpectAt(0, 0);

  Place(0, 12);
  EXPECT_TRUE(Send(tui::Event::Home));
  ExpectAt(0, 12);
}

TEST_F(BrowserNavigationTest, KeysOnAnEmptyListingAreConsumedAndHarmless) {
  state_.entries.clear();
  Place(0, 4);
  EXPECT_TRUE(Send(tui::Event::PageDown));
  ExpectAt(-1, 0);
  EXPECT_TRUE(Send(tui::Event::PageUp));
  ExpectAt(0, 0);

  Place(-1, 0);
  EXPECT_TRUE(Send(tui::Event::PageUp));
  ExpectAt(0, 0);

  for (const tui::Event& key : {tui::Event::ArrowDown, tui::Event::ArrowUp, tui::Event::Home,
                                tui::Event::End, tui::Event::Return, tui::Event::Tab}) {
    EXPECT_TRUE(Send(key)) << key.input();
    ExpectAt(0, 0);
  }
  EXPECT_TRUE(chosen_.empty());
  EXPECT_FALSE(state_.show_metadata);
}

TEST_F(BrowserNavigationTest, ReturnOnAFileHandsItsPathOverAndChangesNothing) {
  Place(42, 30);
  state_.playing_index = 7;
  state_.paused = true;
  const FileBrowserState before = state_;

  EXPECT_TRUE(Send(tui::Event::Return));

  EXPECT_EQ(chosen_, std::vector<std::string>{"/music/" + RowLabel(42) + ".mp3"});
  ExpectSameState(state_, before);
}

TEST_F(BrowserNavigationTest, ReturnWithoutACallbackOrRowDoesNothing) {
  Place(3, 0);
  const FileBrowserState before = state_;
  EXPECT_TRUE((HandleBrowserEvent{&state_, nullptr}(tui::Event::Return)));
  ExpectSameState(state_, before);

  for (const int outside : {-1, 100}) {
    Place(outside, 0);
    EXPECT_TRUE(Send(tui::Event::Return));
  }
  EXPECT_TRUE(chosen_.empty());
}

TEST_F(BrowserNavigationTest, UnboundKeysPassThrough) {
  Place(10, 0);
  const FileBrowserState before = state_;
  for (const tui::Event& key :
       {tui::Event::ArrowLeft, tui::Event::ArrowRight, tui::Event::Backspace, tui::Event::Escape,
        tui::Event::Custom, tui::Event::Character('j'), tui::Event::Character(' '),
        tui::Event::Character("q")}) {
    EXPECT_FALSE(Send(key)) << key.input();
  }
  ExpectSameState(state_, before);
}

TEST_F(BrowserNavigationTest, LeftPressSelectsTheRowDrawnUnderIt) {
  Place(0, 10);
  EXPECT_TRUE(Send(LeftPress(kListingTopRow)));
  ExpectAt(10, 10);
  EXPECT_TRUE(Send(LeftPress(kListingTopRow + 20)));
  ExpectAt(30, 10);
  EXPECT_TRUE(Send(LeftPress(kListingTopRow + 3)));
  ExpectAt(13, 10);
}

TEST_F(BrowserNavigationTest, LeftPressOutsideTheRowsIsConsumedAndChangesNothing) {
  Place(5, 0);
  const FileBrowserState before = state_;
  for (const int y : {0, kListingTopRow - 1, kListingTopRow + 21, 29, 500, -3}) {
    EXPECT_TRUE(Send(LeftPress(y))) << "row " << y;
  }
  ExpectSameState(state_, before);

  state_ = StateWithRows(5);
  Place(1, 0);
  EXPECT_TRUE(Send(LeftPress(kListingTopRow + 5)));
  ExpectAt(1, 0);
  EXPECT_TRUE(Send(LeftPress(kListingTopRow + 4)));
  ExpectAt(4, 0);
}

TEST_F(BrowserNavigationTest, OtherMouseEventsPassThrough) {
  Place(5, 0);
  const FileBrowserState before = state_;
  const int y = kListingTopRow + 2;
  for (const tui::Event& event : {MouseEvent(tui::Mouse::WheelUp, tui::Mouse::Pressed, y),
                                  MouseEvent(tui::Mouse::WheelDown, tui::Mouse::Pressed, y),
                                  MouseEvent(tui::Mouse::Right, tui::Mouse::Pressed, y),
                                  MouseEvent(tui::Mouse::Middle, tui::Mouse::Pressed, y),
                                  MouseEvent(tui::Mouse::Left, tui::Mouse::Released, y),
                                  MouseEvent(tui::Mouse::Left, tui::Mouse::Moved, y),
                                  MouseEvent(tui::Mouse::None, tui::Mouse::Moved, y)}) {
    EXPECT_FALSE(Send(event)) << event.input();
  }
  ExpectSameState(state_, before);
}

TEST_F(BrowserNavigationTest, ComponentDrawsTheViewAndTakesTheKeys) {
  Place(20, 0);
  tui::Component browser = MakeFileBrowser(&state_, on_select_);

  EXPECT_TRUE(browser->OnEvent(tui::Event::ArrowDown));
  ExpectAt(21, 1);
  EXPECT_FALSE(browser->OnEvent(tui::Event::Custom));
  EXPECT_TRUE(browser->OnEvent(tui::Event::Return));
  EXPECT_EQ(chosen_, std::vector<std::string>{"/music/" + RowLabel(21) + ".mp3"});

  state_.selected = 60;
  tui::Screen screen(20, 21);
  tui::Render(screen, browser->Render());
  EXPECT_EQ(state_.scroll_offset, 40);
  EXPECT_EQ(screen.Lines().back().substr(0, 7), RowLabel(60));
  EXPECT_TRUE(screen.At(0, 20).inverted);
}

// Folders on disk: root/{sub/{inner.mp3}, top.wav}.
class BrowserFolderTest : public ::testing::Test {
 protected:
  BrowserFolderTest() {
    std::filesystem::create_directory(root_ / "sub");
    test_support::WriteFile(root_ / "sub/inner.mp3", "x");
    test_support::WriteFile(root_ / "top.wav", "x");
    state_.current_dir = root_ / "sub";
    state_.entries = ScanDirectory(state_.current_dir);
    state_.selected = 0;
    state_.scroll_offset = 1;
    state_.playing_index = 1;
    state_.paused = true;
    state_.show_metadata = true;
    state_.overlay_metadata.title = "kept";
  }

  bool Send(tui::Event event) { return HandleBrowserEvent{&state_, nullptr}(event); }

  void ExpectListing(const std::string& dir) const {
    EXPECT_EQ(state_.current_dir, dir);
    const std::vector<FileEntry> expected = ScanDirectory(dir);
    ASSERT_EQ(state_.entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(state_.entries[i].path, expected[i].path);
    }
    EXPECT_EQ(state_.selected, 0);
    EXPECT_EQ(state_.scroll_offset, 0);
    EXPECT_EQ(state_.playing_index, -1);
    EXPECT_TRUE(state_.paused);
    EXPECT_TRUE(state_.show_metadata);
    EXPECT_EQ(state_.overlay_metadata.title, "kept");
  }

  ScreenHeight height_{30};
  test_support::TempDir root_;
  FileBrowserState state_;
};

TEST_F(BrowserFolderTest, ReturnOnTheParentRowListsTheParent) {
  ASSERT_EQ(state_.entries[0].label, ".. (parent)");
  EXPECT_TRUE(Send(tui::Event::Return));
  ExpectListing(root_.path().string());
  EXPECT_EQ(state_.entries[1].label, "[Folder] sub");
}

TEST_F(BrowserFolderTest, ReturnOnAFolderListsIt) {
  state_.current_dir = root_.path().string();
  state_.entries = ScanDirectory(state_.current_dir);
  state_.selected = 1;
  ASSERT_EQ(state_.entries[1].label, "[Folder] sub");

  EXPECT_TRUE(Send(tui::Event::Return));

  ExpectListing(root_ / "sub");
  EXPECT_EQ(state_.entries[1].label, "inner.mp3");
}

}  // namespace
