#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/media.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace fs = std::filesystem;
using test_support::LineWith;
using test_support::MediaFormat;
using test_support::MediaRecipe;
using test_support::PollUntil;
using test_support::TmuxSession;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The elapsed time at the start of the progress row.
std::string Elapsed(TmuxSession& session) {
  const std::vector<std::string> screen = session.Screen();
  if (screen.size() < 4) {
    return "";
  }
  const std::string& row = screen[3];
  const size_t start = row.find("\u2502");
  return start == std::string::npos ? "" : row.substr(start + 3, 5);
}

class JourneyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_TMUX();
    MediaRecipe first;
    first.format = MediaFormat::kMp3Cbr;
    // Long enough that a slow machine still pauses it, and opens its tags, before it ends.
    first.seconds = 6.0;
    first.tags = {"Title", "Artist", "Album", "2004-05-12", "Genre"};
    MediaRecipe second;
    second.format = MediaFormat::kFlac;
    second.seconds = 2.0;
    second.tags.title = "Second";
    fs::create_directory(dir_.path() / "sub");
    fs::copy_file(test_support::MakeMedia(first), dir_.path() / "01 first.mp3");
    fs::copy_file(test_support::MakeMedia(second), dir_.path() / "02 second.flac");
  }

  test_support::TempDir dir_;
};

TEST_F(JourneyTest, BrowsePlayPauseLookAtTagsAdvanceAndQuit) {
  TmuxSession session(test_support::ProgramPath() + " '" + dir_.path().string() + "'",
                      {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", dir_ / "played.raw"}});
  ASSERT_TRUE(session.WaitFor("02 second.flac"));
  EXPECT_TRUE(session.WaitFor("Choose audio file")) << session.ScreenText();

  // A left press on the row of the first file, as a terminal reports it (SGR, 1-based
  // column 5, row 11); a release and a press on the progress row change nothing.
  session.SendBytes("\x1b[<0;5;11M");
  ASSERT_TRUE(PollUntil([&] {
    return test_support::HighlightedRow(session).find("01 first.mp3") != std::string::npos;
  })) << "the mouse press did not select the row";
  session.SendBytes("\x1b[<0;5;12m\x1b[<0;5;4M");
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("Now playing: Title | Artist (2004) /Genre/"));
  // The rest of the frame may reach the pane after the now-playing line.
  const std::string playing =
      test_support::ScreenHoldingAll(session, {"01 first.mp3 \u266a\u266a\u266a", "00:06"});
  EXPECT_THAT(playing, HasSubstr("01 first.mp3 \u266a\u266a\u266a"));
  EXPECT_THAT(playing, HasSubstr("00:06"));
  ASSERT_TRUE(session.WaitFor("00:01")) << "the clock does not move";

  session.SendKeys({"Space"});
  ASSERT_TRUE(session.WaitFor("01 first.mp3 \u23f8"));
  const std::string paused_at = Elapsed(session);
  // A fixed wait, for what must not happen: a slow machine can only miss a clock that moves.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(Elapsed(session), paused_at) << "the clock moves while paused";
  session.SendKeys({"Space"});
  ASSERT_TRUE(session.WaitFor("01 first.mp3 \u266a\u266a\u266a"));

  session.SendKeys({"Tab"});
  ASSERT_TRUE(session.WaitFor("Track Metadata"));
  const std::string tags =
      test_support::ScreenHoldingAll(session, {"Title:  Title", "Year:   2004"});
  EXPECT_THAT(tags, HasSubstr("Title:  Title"));
  EXPECT_THAT(tags, HasSubstr("Year:   2004"));
  session.SendKeys({"Escape"});
  ASSERT_TRUE(session.WaitUntilGone("Track Metadata"));

  ASSERT_TRUE(session.WaitFor("Now playing: Second", std::chrono::seconds(15)))
      << "the next file did not start by itself";
  // The marks of the rows below, waited for; the second file plays for two seconds.
  std::vector<std::string> screen;
  PollUntil([&] {
    screen = session.Screen();
    return LineWith(screen, "02 second.flac").find("\u266a") != std::string::npos &&
           LineWith(screen, "01 first.mp3").find("\u266a") == std::string::npos;
  });
  EXPECT_THAT(LineWith(screen, "02 second.flac"), HasSubstr("02 second.flac \u266a\u266a\u266a"));
  EXPECT_THAT(LineWith(screen, "01 first.mp3"), Not(HasSubstr("\u266a")));

  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);
  EXPECT_EQ(session.PaneFormat("#{alternate_on}"), "0");
  EXPECT_EQ(session.PaneFormat("#{cursor_flag}"), "1");
  EXPECT_EQ(session.PaneFormat("#{mouse_any_flag}"), "0");
  EXPECT_GT(fs::file_size(dir_.path() / "played.raw"), 0u);
}

}  // namespace
