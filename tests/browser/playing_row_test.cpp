#include "browser/playing_row.h"

#include <string>

#include <gtest/gtest.h>

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

}  // namespace
