#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/ui/main_screen_fixture.h"

namespace {

using ::testing::HasSubstr;

// Where the window's frame lies on the screen.
struct WindowBox {
  int top = -1;
  int bottom = -1;
  int left = -1;
  int right = -1;
  int Height() const { return bottom - top + 1; }
  int Width() const { return right - left + 1; }
};

WindowBox FindWindow(const tui::Screen& screen) {
  WindowBox box;
  for (int y = 1; y < screen.dimy(); ++y) {
    for (int x = 0; x < screen.dimx(); ++x) {
      const std::string_view glyph = screen.At(x, y).glyph;
      if (glyph == "\u256d" && box.top < 0) {
        box.top = y;
        box.left = x;
      }
      if (glyph == "\u256e" && box.right < 0 && y == box.top) {
        box.right = x;
      }
      if (glyph == "\u2570" && box.left == x && y < screen.dimy() - 1) {
        box.bottom = y;
      }
    }
  }
  return box;
}

class MetadataOverlayTest : public ui_test::MainScreenTest {
 protected:
  tui::Screen Show(const TrackMetadata& metadata, int width = 80, int height = 24) {
    AddTrack("a.mp3", {});
    Open(width, height);
    browser_.overlay_metadata = metadata;
    browser_.show_metadata = true;
    return Frame();
  }
};

TEST_F(MetadataOverlayTest, ListsTheFiveTagsUnderAlignedLabels) {
  const tui::Screen screen = Show({"Song", "Band", "Record", "2004", "Rock"});
  const std::string text = screen.ToString();
  EXPECT_THAT(text, HasSubstr("Track Metadata"));
  EXPECT_THAT(text, HasSubstr("Title:  Song"));
  EXPECT_THAT(text, HasSubstr("Artist: Band"));
  EXPECT_THAT(text, HasSubstr("Album:  Record"));
  EXPECT_THAT(text, HasSubstr("Year:   2004"));
  EXPECT_THAT(text, HasSubstr("Genre:  Rock"));
  EXPECT_THAT(text, HasSubstr("Press TAB or ESC to close"));
}

TEST_F(MetadataOverlayTest, MissingTagsReadUnknown) {
  const std::string text = Show({"Only a title", "", "", "", ""}).ToString();
  EXPECT_THAT(text, HasSubstr("Title:  Only a title"));
  for (const char* row :
       {"Artist: (unknown)", "Album:  (unknown)", "Year:   (unknown)", "Genre:  (unknown)"}) {
    EXPECT_THAT(text, HasSubstr(row));
  }
}

TEST_F(MetadataOverlayTest, TheWindowIsCentredAndItsTitleBoldAndHintDim) {
  const tui::Screen screen = Show({"Song", "", "", "", ""});
  const WindowBox box = FindWindow(screen);
  EXPECT_EQ(box.Height(), 11);
  EXPECT_EQ(box.top, (24 - 11) / 2);
  EXPECT_EQ(box.left, (80 - box.Width()) / 2);
  bool found_bold = false;
  bool found_dim = false;
  for (int x = box.left; x <= box.right; ++x) {
    found_bold |= screen.At(x, box.top + 1).glyph == "T" && screen.At(x, box.top + 1).bold;
    found_dim |= screen.At(x, box.bottom - 1).glyph == "P" && screen.At(x, box.bottom - 1).dim;
  }
  EXPECT_TRUE(found_bold);
  EXPECT_TRUE(found_dim);
}

TEST_F(MetadataOverlayTest, TheLayerPaintsEveryCellWhiteOnBlack) {
  const tui::Screen screen = Show({"Song", "", "", "", ""});
  for (int y = 0; y < screen.dimy(); ++y) {
    for (int x = 0; x < screen.dimx(); ++x) {
      ASSERT_EQ(screen.At(x, y).bg, tui::Color::Black) << x << "," << y;
      ASSERT_EQ(screen.At(x, y).fg, tui::Color::White) << x << "," << y;
    }
  }
  // The main screen still shows through where the window writes nothing.
  EXPECT_THAT(screen.Lines()[1], HasSubstr("Choose audio file"));
}

TEST_F(MetadataOverlayTest, NothingOfTheMainScreenShowsThroughTheWindow) {
  // Rows under the window: the folder header and names longer than the window is wide.
  for (const char* suffix : {"1.mp3", "2.mp3", "3.mp3", "4.mp3", "5.mp3", "6.mp3", "7.mp3"}) {
    AddTrack(std::string(70, 'L') + suffix, {});
  }
  const tui::Screen screen = Show({"Song", "", "", "", ""});
  const WindowBox box = FindWindow(screen);
  ASSERT_GT(box.Height(), 0);
  const std::vector<std::string> lines = screen.Lines();
  EXPECT_THAT(lines[box.top + 1], HasSubstr("\u2502     Track Metadata      \u2502"));
  EXPECT_THAT(lines[box.top + 3], HasSubstr("\u2502Title:  Song             \u2502"));
  EXPECT_THAT(lines[box.top + 4], HasSubstr("\u2502Artist: (unknown)        \u2502"));
  for (int y = box.top + 1; y < box.bottom; ++y) {
    for (int x = box.left + 1; x < box.right; ++x) {
      EXPECT_NE(screen.At(x, y).glyph, "L") << x << "," << y;
      EXPECT_EQ(screen.At(x, y).bg, tui::Color::Black) << x << "," << y;
    }
  }
}

TEST_F(MetadataOverlayTest, TheWindowTakesAtMostHalfTheTerminal) {
  const TrackMetadata long_title{std::string(100, 'x'), "", "", "", ""};
  for (auto [width, height] : {std::pair{80, 24}, std::pair{81, 25}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const WindowBox box = FindWindow(Show(long_title, width, height));
    EXPECT_EQ(box.Width(), 40);
    EXPECT_EQ(box.Height(), 11);
    StopPlayback(playback_);
  }
}

TEST_F(MetadataOverlayTest, TwentyRowsCutTheWindowToTen) {
  const tui::Screen screen = Show({"Song", "", "", "", ""}, 80, 20);
  const WindowBox box = FindWindow(screen);
  EXPECT_EQ(box.Height(), 10);
  EXPECT_THAT(screen.Lines()[box.top + 1], HasSubstr("Track Metadata"));
}

}  // namespace
