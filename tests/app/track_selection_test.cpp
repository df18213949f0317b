#include "app/track_selection.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/audio/fake_engine_test.h"

namespace {

FileBrowserState ListingOf(int files) {
  FileBrowserState browser;
  browser.entries.push_back({".. (parent)", "/", true});
  browser.entries.push_back({"[Folder] f", "/m/f", true});
  for (int i = 2; i < files + 2; ++i) {
    browser.entries.push_back(
        {std::to_string(i) + ".mp3", "/m/" + std::to_string(i) + ".mp3", false});
  }
  return browser;
}

TEST(MarkPlayingEntryTest, MarksTheRowAndKeepsFiveRowsAboveIt) {
  FileBrowserState browser = ListingOf(30);
  for (auto [index, offset] :
       {std::pair{2, 0}, std::pair{5, 0}, std::pair{6, 1}, std::pair{20, 15}}) {
    MarkPlayingEntry(browser, "/m/" + std::to_string(index) + ".mp3");
    EXPECT_EQ(browser.playing_index, index);
    EXPECT_EQ(browser.selected, index);
    EXPECT_EQ(browser.scroll_offset, offset);
  }
}

TEST(MarkPlayingEntryTest, OnlyAFileRowWithTheExactPathIsMarked) {
  FileBrowserState browser = ListingOf(3);
  browser.selected = 3;
  browser.scroll_offset = 1;
  browser.playing_index = 2;
  for (const char* path : {"/m/f", "/m//2.mp3", "/m/2.mp3/", "/m/9.mp3", "/"}) {
    MarkPlayingEntry(browser, path);
    EXPECT_EQ(browser.playing_index, -1) << path;
    EXPECT_EQ(browser.selected, 3);
    EXPECT_EQ(browser.scroll_offset, 1);
  }
}

class OnTrackSelectedTest : public engine_test::FakeEngineTest {
 protected:
  void SetUp() override {
    FakeEngineTest::SetUp();
    first_ = WriteTrack("first.mp3", engine_test::ContentsWithFrames(44100));
    second_ = WriteTrack("second.mp3", engine_test::ContentsWithFrames(44100, 2, 2));
    browser_.entries = {
        {".. (parent)", "/", true}, {"first.mp3", first_, false}, {"second.mp3", second_, false}};
  }
  void TearDown() override {
    StopPlayback(playback_);
    FakeEngineTest::TearDown();
  }

  std::string first_;
  std::string second_;
  PlaybackState playback_;
  FileBrowserState browser_;
  OnTrackSelected select_{playback_, browser_};
};

TEST_F(OnTrackSelectedTest, PlaysMarksAndClearsThePauseToggle) {
  browser_.paused = true;
  select_(second_);
  ASSERT_NE(playback_.player, nullptr);
  EXPECT_EQ(playback_.now_playing, second_);
  EXPECT_EQ(browser_.playing_index, 2);
  EXPECT_EQ(browser_.selected, 2);
  EXPECT_FALSE(browser_.paused);
}

TEST_F(OnTrackSelectedTest, ChoosingThePlayingFileStartsItAgain) {
  select_(first_);
  fake_audio::LastQueue().PlayHeadBuffer();
  select_(first_);
  EXPECT_EQ(fake_audio::QueueCount(), 2);
  EXPECT_EQ(fake_audio::LastQueue().played_samples().size(), 0u);
  EXPECT_EQ(browser_.playing_index, 1);
}

TEST_F(OnTrackSelectedTest, AFailedLoadUnmarksTheRowThatStopped) {
  select_(first_);
  browser_.paused = true;
  browser_.selected = 2;
  browser_.scroll_offset = 0;
  test_support::WriteFile(dir_.path() / "broken.mp3", "garbage");
  const std::string errors = engine_test::CaptureStderr([&] { select_((dir_ / "broken.mp3")); });
  EXPECT_EQ(errors, "Failed to load: " + (dir_ / "broken.mp3") + "\n");
  EXPECT_EQ(playback_.player, nullptr);
  EXPECT_EQ(browser_.playing_index, -1);
  EXPECT_FALSE(browser_.paused);
  EXPECT_EQ(browser_.selected, 2);
  EXPECT_EQ(browser_.scroll_offset, 0);
}

}  // namespace
