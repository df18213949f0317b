#include <string>

#include <gtest/gtest.h>

#include "browser/browser_navigation.h"
#include "browser/directory_listing.h"
#include "tests/browser/browser_rows.h"
#include "tests/fakes/fake_audio_platform.h"
#include "tests/support/temp_dir.h"

namespace {

using browser_test::ScreenHeight;

// Tab on file rows over the fake platform: root/{tagged.mp3, bare.wav, broken.flac, sub/}.
class BrowserPreviewTest : public ::testing::Test {
 protected:
  BrowserPreviewTest() {
    fake_audio::Reset();
    fake_audio::FakeFileContents tagged;
    tagged.tags = {{"title", "Blue Train"},
                   {"artist", "John Coltrane"},
                   {"album", "Blue Train"},
                   {"year", "1957"},
                   {"genre", "Jazz"}};
    fake_audio::WriteFakeAudioFile(root_ / "tagged.mp3", tagged);
    fake_audio::FakeFileContents bare;
    bare.has_info_dictionary = false;
    fake_audio::WriteFakeAudioFile(root_ / "bare.wav", bare);
    test_support::WriteFile(root_ / "broken.flac", "not audio at all");
    std::filesystem::create_directory(root_ / "sub");

    state_.current_dir = root_.path().string();
    state_.entries = ScanDirectory(state_.current_dir);
  }

  void Select(const std::string& label) {
    for (size_t i = 0; i < state_.entries.size(); ++i) {
      if (state_.entries[i].label == label) {
        state_.selected = static_cast<int>(i);
        return;
      }
    }
    FAIL() << "no row " << label;
  }

  bool Tab() { return HandleBrowserEvent{&state_, nullptr}(tui::Event::Tab); }

  // The preview's track is closed again and playback was never touched.
  static void ExpectNothingLeftOpen() {
    EXPECT_EQ(fake_audio::OpenFileCount(), 0);
    EXPECT_EQ(fake_audio::OpenDecoderCount(), 0);
    EXPECT_EQ(fake_audio::CallCount(fake_audio::Op::kAudioQueueNewOutput), 0);
    EXPECT_TRUE(fake_audio::Misuses().empty());
  }

  ScreenHeight height_{30};
  test_support::TempDir root_;
  FileBrowserState state_;
};

TEST_F(BrowserPreviewTest, TabOnAFileOpensTheOverlayWithItsTags) {
  Select("tagged.mp3");
  state_.playing_index = 2;
  EXPECT_TRUE(Tab());

  EXPECT_TRUE(state_.show_metadata);
  EXPECT_EQ(state_.overlay_metadata.title, "Blue Train");
  EXPECT_EQ(state_.overlay_metadata.artist, "John Coltrane");
  EXPECT_EQ(state_.overlay_metadata.album, "Blue Train");
  EXPECT_EQ(state_.overlay_metadata.year, "1957");
  EXPECT_EQ(state_.overlay_metadata.genre, "Jazz");
  EXPECT_EQ(state_.playing_index, 2);
  ExpectNothingLeftOpen();
}

TEST_F(BrowserPreviewTest, TabOnAnUntaggedFileClearsTheOldTags) {
  state_.overlay_metadata.title = "Previous";
  state_.overlay_metadata.genre = "Previous";
  Select("bare.wav");
  EXPECT_TRUE(Tab());

  EXPECT_TRUE(state_.show_metadata);
  EXPECT_EQ(state_.overlay_metadata.title, "");
  EXPECT_EQ(state_.overlay_metadata.genre, "");
  ExpectNothingLeftOpen();
}

TEST_F(BrowserPreviewTest, FileThatFailsToLoadChangesNothing) {
  state_.overlay_metadata.title = "Previous";
  Select("broken.flac");
  EXPECT_TRUE(Tab());
  EXPECT_FALSE(state_.show_metadata);
  EXPECT_EQ(state_.overlay_metadata.title, "Previous");

  std::filesystem::remove(root_ / "tagged.mp3");
  Select("tagged.mp3");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(Tab());
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(state_.show_metadata);
  EXPECT_EQ(state_.overlay_metadata.title, "Previous");
  EXPECT_NE(messages.find("Failed to open file"), std::string::npos) << messages;
  ExpectNothingLeftOpen();
}

TEST_F(BrowserPreviewTest, FailureLateInTheLoadClosesWhatItOpened) {
  fake_audio::FailEveryCall(fake_audio::Op::kExtAudioFileSetProperty, -50);
  Select("tagged.mp3");
  EXPECT_TRUE(Tab());
  EXPECT_FALSE(state_.show_metadata);
  EXPECT_EQ(state_.overlay_metadata.title, "");
  ExpectNothingLeftOpen();
}

TEST_F(BrowserPreviewTest, TabOnTheFolderRowsLoadsNothing) {
  for (const char* label : {".. (parent)", "[Folder] sub"}) {
    Select(label);
    EXPECT_TRUE(Tab());
    EXPECT_FALSE(state_.show_metadata);
  }
  EXPECT_EQ(fake_audio::CallCount(fake_audio::Op::kAudioFileOpenWithCallbacks), 0);
}

}  // namespace
