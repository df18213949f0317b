#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "browser/directory_listing.h"
#include "browser/screen_size.h"
#include "tests/ui/main_screen_fixture.h"
#include "tui/dom/node.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Rows of the frame: 0 border, 1 now playing, 3 progress, 5 title, 7 folder header, 8.. listing.
constexpr int kNowPlayingRow = 1;
constexpr int kProgressRow = 3;
constexpr int kTitleRow = 5;
constexpr int kHeaderRow = 7;

const std::map<std::string, std::string> kAllTags = {{"title", "Song"},
                                                     {"artist", "Band"},
                                                     {"album", "Record"},
                                                     {"year", "2004"},
                                                     {"genre", "Rock"}};

int FullGaugeCells(const std::string& line) {
  int cells = 0;
  for (size_t at = line.find("\u2588"); at != std::string::npos; at = line.find("\u2588", at + 1)) {
    ++cells;
  }
  return cells;
}

// The text between the border's sides, without the padding that centring adds.
std::string Inner(const std::string& line) {
  const std::string side = "\u2502";
  std::string inner = line.substr(side.size(), line.size() - 2 * side.size());
  const size_t first = inner.find_first_not_of(' ');
  const size_t last = inner.find_last_not_of(' ');
  return first == std::string::npos ? "" : inner.substr(first, last - first + 1);
}

class MainScreenFrameTest : public ui_test::MainScreenTest {};

TEST_F(MainScreenFrameTest, NothingLoadedAsksForAFile) {
  AddTrack("a.mp3", kAllTags);
  Open();
  const std::vector<std::string> lines = FrameLines();
  ASSERT_EQ(lines.size(), 24u);
  EXPECT_EQ(Inner(lines[kNowPlayingRow]), "Choose audio file");
  EXPECT_EQ(Inner(lines[kProgressRow]).substr(0, 5), "--:--");
  EXPECT_EQ(Inner(lines[kProgressRow]).substr(Inner(lines[kProgressRow]).size() - 5), "--:--");
  EXPECT_EQ(FullGaugeCells(lines[kProgressRow]), 0);
  EXPECT_EQ(Inner(lines[kTitleRow]),
            "Brevalo - v0.3 - Space pause \u00b7 Tab info \u00b7 Esc quit");
  EXPECT_EQ(Inner(lines[kHeaderRow]), "FILE BROWSER (" + dir_.path().string() + ")");
  EXPECT_THAT(lines[8], HasSubstr(".. (parent)"));
  EXPECT_THAT(lines[9], HasSubstr("a.mp3"));
  EXPECT_EQ(playback_.heard.duration, 0);
  EXPECT_EQ(g_screen_width, 80);
  EXPECT_EQ(g_screen_height, 24);
}

TEST_F(MainScreenFrameTest, TwentyFourRowsLeaveFifteenToTheListing) {
  for (int i = 10; i < 40; ++i) {
    AddTrack("t" + std::to_string(i) + ".mp3", {});
  }
  Open(80, 24);
  const std::vector<std::string> lines = FrameLines();
  EXPECT_THAT(lines[8], HasSubstr(".. (parent)"));
  EXPECT_THAT(lines[22], HasSubstr("t23.mp3"));
  EXPECT_THAT(lines[23], HasSubstr("\u2570"));
}

TEST_F(MainScreenFrameTest, PlayingShowsTheTagsTheClockAndTheGauge) {
  AddTrack("a.mp3", kAllTags, 100);
  Open();
  Choose("a.mp3");
  SetPlayedSeconds(75);
  const std::vector<std::string> lines = FrameLines();
  EXPECT_EQ(Inner(lines[kNowPlayingRow]), "Now playing: Song | Band (2004) /Rock/");
  const std::string progress = Inner(lines[kProgressRow]);
  EXPECT_EQ(progress.substr(0, 5), "01:15");
  EXPECT_EQ(progress.substr(progress.size() - 5), "01:40");
  // 75 % of the 68 cells that the two times leave.
  EXPECT_EQ(FullGaugeCells(lines[kProgressRow]), 51);
  EXPECT_DOUBLE_EQ(playback_.heard.position, 75);
  EXPECT_DOUBLE_EQ(playback_.heard.duration, 100);
  EXPECT_THAT(lines[9], HasSubstr("a.mp3 \u266a\u266a\u266a"));
}

TEST_F(MainScreenFrameTest, PausedFreezesTheClockAndResumingContinues) {
  AddTrack("a.mp3", kAllTags, 100);
  Open();
  Choose("a.mp3");
  SetPlayedSeconds(30);
  Frame();
  root_->OnEvent(tui::Event::Character(' '));
  std::vector<std::string> lines = FrameLines();
  EXPECT_EQ(Inner(lines[kProgressRow]).substr(0, 5), "00:30");
  EXPECT_THAT(lines[9], HasSubstr("a.mp3 \u23f8"));
  root_->OnEvent(tui::Event::Character(' '));
  SetPlayedSeconds(35);
  lines = FrameLines();
  EXPECT_EQ(Inner(lines[kProgressRow]).substr(0, 5), "00:35");
}

TEST_F(MainScreenFrameTest, TheOnlyFileEndsAndStaysShownWithoutAClock) {
  AddTrack("a.mp3", kAllTags, 2);
  Open();
  Choose("a.mp3");
  fake_audio::LastQueue().PlayUntilDrained();
  for (int frame = 0; frame < 3; ++frame) {
    const std::vector<std::string> lines = FrameLines();
    EXPECT_EQ(Inner(lines[kNowPlayingRow]), "Now playing: Song | Band (2004) /Rock/");
    const std::string progress = Inner(lines[kProgressRow]);
    EXPECT_EQ(progress.substr(0, 5), "--:--");
    EXPECT_EQ(progress.substr(progress.size() - 5), "00:02");
    EXPECT_EQ(FullGaugeCells(lines[kProgressRow]), 0);
  }
  EXPECT_EQ(fake_audio::QueueCount(), 1) << "nothing else may start";
  root_->OnEvent(tui::Event::Character(' '));
  Frame();
  EXPECT_FALSE(browser_.paused) << "a pause with nothing to follow holds nothing";
}

// Space between the join and the next track's first frame: nothing of it is heard until the
// resume, and then its row is marked as it is heard.
TEST_F(MainScreenFrameTest, APauseAsATrackEndsHoldsTheOneThatFollows) {
  AddTrack("a.mp3", {}, 2);
  AddTrack("b.mp3", {}, 2);
  Open();
  Choose("a.mp3");
  fake_audio::FakeQueue queue = fake_audio::LastQueue();
  ASSERT_TRUE(queue.PlayHeadBuffer());
  ASSERT_TRUE(queue.PlayHeadBuffer());
  // What follows a.mp3 is queued now.
  ASSERT_TRUE(FrameUntil([&] { return queue.queued_count() == 3; }));
  root_->OnEvent(tui::Event::Character(' '));
  EXPECT_FALSE(queue.PlayHeadBuffer());
  Frame();
  EXPECT_EQ(browser_.playing_index, RowOf("a.mp3"));
  EXPECT_TRUE(browser_.paused);
  root_->OnEvent(tui::Event::Character(' '));
  PlayUntilTheHeardTrackChanges();
  EXPECT_EQ(browser_.playing_index, RowOf("b.mp3"));
  EXPECT_FALSE(browser_.paused);
}

TEST_F(MainScreenFrameTest, TheNextFileStartsByItselfAndItsRowIsMarked) {
  AddTrack("a.mp3", kAllTags, 2);
  AddTrack("b.mp3", {{"title", "Second"}}, 3);
  Open();
  browser_.paused = true;
  Choose("a.mp3");
  EXPECT_FALSE(browser_.paused) << "a chosen file plays";
  EXPECT_EQ(browser_.playing_index, RowOf("a.mp3"));
  PlayUntilTheHeardTrackChanges();
  EXPECT_EQ(playback_.now_playing, "Second");
  EXPECT_EQ(browser_.playing_index, RowOf("b.mp3"));
  EXPECT_EQ(browser_.selected, RowOf("b.mp3"));
  const std::vector<std::string> lines = FrameLines();
  EXPECT_EQ(Inner(lines[kNowPlayingRow]), "Now playing: Second");
  EXPECT_THAT(lines[10], HasSubstr("b.mp3 \u266a\u266a\u266a"));
  EXPECT_THAT(lines[9], Not(HasSubstr("\u266a")));
}

TEST_F(MainScreenFrameTest, AfterTheLastFileTheSearchWrapsToTheFirst) {
  AddTrack("a.mp3", {}, 2);
  AddTrack("b.mp3", {}, 2);
  std::filesystem::create_directory(dir_.path() / "folder");
  Open();
  Choose("b.mp3");
  PlayUntilTheHeardTrackChanges();
  EXPECT_EQ(playback_.now_playing, dir_ / "a.mp3");
  EXPECT_EQ(browser_.playing_index, RowOf("a.mp3"));
}

TEST_F(MainScreenFrameTest, ANextFileThatFailsLeavesNothingLoadedAndNoMark) {
  AddTrack("a.mp3", {}, 2);
  test_support::WriteFile(dir_.path() / "b.mp3", "not audio at all");
  Open();
  Choose("a.mp3");
  std::string errors = engine_test::CaptureStderr([&] {
    ASSERT_TRUE(FrameUntil([&] {
      fake_audio::LastQueue().PlayHeadBuffer();
      return !playback_.heard.loaded;
    }));
  });
  EXPECT_THAT(errors, HasSubstr("Failed to load: " + (dir_ / "b.mp3")));
  EXPECT_FALSE(playback_.heard.loaded);
  EXPECT_EQ(browser_.playing_index, -1);
  const std::vector<std::string> lines = FrameLines();
  EXPECT_EQ(Inner(lines[kNowPlayingRow]), "Choose audio file");
  for (const std::string& line : lines) {
    EXPECT_THAT(line, Not(HasSubstr("\u266a")));
  }
}

// A chosen file that does not load stops what played: no row may go on claiming it plays.
TEST_F(MainScreenFrameTest, AChosenFileThatFailsUnmarksTheRowThatStopped) {
  AddTrack("a.mp3", {}, 20);
  test_support::WriteFile(dir_.path() / "broken.mp3", "garbage");
  Open();
  Choose("a.mp3");
  root_->OnEvent(tui::Event::Character(' '));
  browser_.selected = 0;
  const std::string errors = engine_test::CaptureStderr([&] {
    on_select_(dir_ / "broken.mp3");
    ASSERT_TRUE(FrameUntil([&] { return !playback_.heard.loaded; }));
  });
  EXPECT_EQ(errors, "Failed to load: " + (dir_ / "broken.mp3") + "\n");
  EXPECT_EQ(browser_.playing_index, -1);
  EXPECT_FALSE(browser_.paused);
  EXPECT_EQ(browser_.selected, 0);
}

TEST_F(MainScreenFrameTest, TheNowPlayingLineUsesTitleArtistYearAndGenreOnly) {
  struct Case {
    std::map<std::string, std::string> tags;
    std::string line;  // "" for the played path.
  };
  const std::vector<Case> cases = {
      {{{"title", "T"}}, "T"},
      {{{"title", "T"}, {"artist", "A"}}, "T | A"},
      {{{"title", "T"}, {"year", "1999"}}, "T (1999)"},
      {{{"title", "T"}, {"genre", "Jazz"}}, "T /Jazz/"},
      {{{"title", "T"}, {"album", "Only the album"}}, "T"},
      {{{"artist", "A"}, {"year", "1999"}, {"genre", "Jazz"}}, ""},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    AddTrack("t" + std::to_string(i) + ".mp3", cases[i].tags);
  }
  Open();
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string name = "t" + std::to_string(i) + ".mp3";
    Choose(name);
    const std::string expected = cases[i].line.empty() ? dir_ / name : cases[i].line;
    EXPECT_EQ(Inner(FrameLines()[kNowPlayingRow]), "Now playing: " + expected);
  }
}

TEST_F(MainScreenFrameTest, TheFrameIsBuiltAgainOnlyWhenWhatItShowsChanges) {
  AddTrack("a.mp3", kAllTags, 100);
  AddTrack("b.mp3", {}, 100);
  Open();
  Choose("a.mp3");
  tui::Screen screen(80, 24);
  const auto drawn = [&] {
    tui::Element element = root_->Render();
    tui::Render(screen, element);
    return element;
  };
  // 68 gauge cells for 100 s: an eighth of a cell is 0.18 s.
  SetPlayedSeconds(30);
  const tui::Element first = drawn();
  SetPlayedSeconds(30.05);
  EXPECT_EQ(drawn(), first) << "same clock, same gauge";
  SetPlayedSeconds(30.2);
  const tui::Element eighth_on = drawn();
  EXPECT_NE(eighth_on, first) << "the gauge moved an eighth";
  SetPlayedSeconds(31.01);
  const tui::Element second_on = drawn();
  EXPECT_NE(second_on, eighth_on) << "the clock ticked";
  EXPECT_EQ(Inner(screen.Lines()[kProgressRow]).substr(0, 5), "00:31");

  root_->OnEvent(tui::Event::ArrowDown);
  const tui::Element moved = drawn();
  EXPECT_NE(moved, second_on) << "the highlight moved";
  EXPECT_EQ(drawn(), moved);
  root_->OnEvent(tui::Event::Tab);
  EXPECT_NE(drawn(), moved) << "the overlay opened";
}

TEST_F(MainScreenFrameTest, APositionBeyondTheDurationFillsTheGauge) {
  AddTrack("a.mp3", {}, 60);
  Open();
  Choose("a.mp3");
  SetPlayedSeconds(90);
  const std::vector<std::string> lines = FrameLines();
  EXPECT_EQ(Inner(lines[kProgressRow]).substr(0, 5), "01:30");
  EXPECT_EQ(FullGaugeCells(lines[kProgressRow]), 68);
}

TEST(ProgressFractionTest, ADurationThatIsNoNumberGivesAnEmptyGauge) {
  HeardSnapshot heard;
  heard.loaded = true;
  heard.position = 30;
  for (double duration : {std::nan(""), std::numeric_limits<double>::infinity(), 0.0}) {
    heard.duration = duration;
    EXPECT_EQ(ProgressFraction(heard), 0) << duration;
  }
  heard.duration = 60;
  EXPECT_EQ(ProgressFraction(heard), 0.5F);
  heard.position = std::nan("");
  EXPECT_EQ(ProgressFraction(heard), 0);
}

}  // namespace

// With tracks of one format joined on one output, the screen follows what is heard.
class MainScreenGaplessTest : public ui_test::MainScreenTest {};

TEST_F(MainScreenGaplessTest, TheScreenMovesToTheNextRowWhenItsFirstFrameIsHeard) {
  AddTrack("a.mp3", {{"title", "First"}}, 2);
  AddTrack("b.mp3", {{"title", "Second"}}, 3);
  Open();
  Choose("a.mp3");
  fake_audio::FakeQueue queue = fake_audio::LastQueue();
  ASSERT_TRUE(queue.PlayHeadBuffer());
  ASSERT_TRUE(queue.PlayHeadBuffer());
  ASSERT_TRUE(FrameUntil([&] { return queue.queued_count() == 3; })) << "b.mp3 joined";
  EXPECT_EQ(Inner(FrameLines()[kNowPlayingRow]), "Now playing: First");
  EXPECT_EQ(browser_.playing_index, RowOf("a.mp3"));

  ASSERT_TRUE(queue.PlayHeadBuffer());  // The last of a.mp3: b.mp3's first frame is next.
  const std::vector<std::string> lines = FrameLines();
  EXPECT_EQ(Inner(lines[kNowPlayingRow]), "Now playing: Second");
  EXPECT_EQ(Inner(lines[kProgressRow]).substr(0, 5), "00:00");
  EXPECT_EQ(Inner(lines[kProgressRow]).substr(Inner(lines[kProgressRow]).size() - 5), "00:03");
  EXPECT_EQ(browser_.playing_index, RowOf("b.mp3"));
  EXPECT_EQ(browser_.selected, RowOf("b.mp3"));
  EXPECT_EQ(fake_audio::QueueCount(), 1) << "the same output plays on";
}

// The file read ahead is dropped when the listing on screen names another one next.
TEST_F(MainScreenGaplessTest, AReadAheadNoLongerNextOnScreenGivesWayToTheRowThatIs) {
  AddTrack("a.mp3", {}, 5);
  AddTrack("b.mp3", {}, 2);
  std::filesystem::create_directory(dir_.path() / "other");
  AddTrack("other/x.mp3", {}, 2);
  Open();
  Choose("a.mp3");
  // The user goes into the other folder before a.mp3's data has ended.
  browser_.current_dir = (dir_.path() / "other").string();
  browser_.entries = ScanDirectory(browser_.current_dir);
  browser_.playing_index = -1;
  PlayUntilTheHeardTrackChanges();
  EXPECT_EQ(playback_.now_playing, dir_ / "other/x.mp3");
  EXPECT_EQ(browser_.playing_index, RowOf("x.mp3"));
  EXPECT_EQ(fake_audio::QueueCount(), 1);
}
