#include "ui/next_track.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

FileEntry Folder(const std::string& name) { return {"[Folder] " + name, "/m/" + name, true}; }
FileEntry File(const std::string& name) { return {name, "/m/" + name, false}; }
FileEntry Parent() { return {".. (parent)", "/", true}; }

class NextTrackTest : public ::testing::Test {
 protected:
  // The path that would be played, or "" when nothing is.
  std::string Next(int playing_index) {
    browser_.playing_index = playing_index;
    return NextTrackPath(browser_);
  }

  FileBrowserState browser_;
};

TEST_F(NextTrackTest, PlaysTheFollowingFileRow) {
  browser_.entries = {Parent(), Folder("a"), File("1.mp3"), File("2.mp3"), File("3.mp3")};
  EXPECT_EQ(Next(2), "/m/2.mp3");
  EXPECT_EQ(Next(3), "/m/3.mp3");
}

TEST_F(NextTrackTest, WrapsOverTheParentRowAndFoldersToTheFirstFile) {
  browser_.entries = {Parent(), Folder("a"), Folder("b"), File("1.mp3"), File("2.mp3")};
  EXPECT_EQ(Next(4), "/m/1.mp3");
}

TEST_F(NextTrackTest, TheOnlyFileDoesNotRestart) {
  browser_.entries = {Parent(), Folder("a"), File("1.mp3"), Folder("z")};
  EXPECT_EQ(Next(2), "");
  browser_.entries = {File("only.mp3")};
  EXPECT_EQ(Next(0), "");
}

TEST_F(NextTrackTest, WithNoPlayingRowTheFirstFileOfTheListingPlays) {
  browser_.entries = {Parent(), Folder("a"), File("1.mp3"), File("2.mp3")};
  EXPECT_EQ(Next(-1), "/m/1.mp3");
  // A stale index past the listing, as after a shorter folder was entered.
  EXPECT_EQ(Next(40), "/m/1.mp3");
}

TEST_F(NextTrackTest, NothingToPlayInAListingOfFoldersOrNothing) {
  browser_.entries = {Parent(), Folder("a"), Folder("b")};
  EXPECT_EQ(Next(-1), "");
  EXPECT_EQ(Next(1), "");
  browser_.entries.clear();
  EXPECT_EQ(Next(-1), "");
}

// A track passed over unheard (it held no sound) is followed from its own row.
TEST_F(NextTrackTest, AfterATrackNamedByItsPathTheSearchStartsFromItsRow) {
  browser_.entries = {Parent(), Folder("a"), File("1.mp3"), File("2.mp3"), File("3.mp3")};
  browser_.playing_index = 2;
  EXPECT_EQ(NextTrackPathAfter(browser_, "/m/2.mp3"), "/m/3.mp3");
  EXPECT_EQ(NextTrackPathAfter(browser_, "/m/3.mp3"), "/m/1.mp3");
  EXPECT_EQ(NextTrackPathAfter(browser_, "/elsewhere/x.mp3"), "/m/1.mp3");
}

}  // namespace
