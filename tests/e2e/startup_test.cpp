#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace fs = std::filesystem;
using test_support::TmuxSession;

namespace {

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TMUX();
    fs::create_directory(dir_.path() / "Zed");
    fs::create_directory(dir_.path() / "notes");
    fs::create_directory(dir_.path() / ".git");
    for (const char* name : {"b.MP3", "A.wav", "c.txt", ".hidden.mp3", "x.flac.bak"}) {
      test_support::WriteFile(dir_.path() / name, "not audio");
    }
    for (int i = 10; i < 30; ++i) {
      test_support::WriteFile(dir_.path() / ("t" + std::to_string(i) + ".flac"), "not audio");
    }
  }

  std::string Command() const { return test_support::ProgramPath() + " " + dir_.path().string(); }

  test_support::TempDir dir_;
};

// The rows between the folder header and the bottom border.
std::vector<std::string> ListingRows(const std::vector<std::string>& screen) {
  std::vector<std::string> rows;
  bool in_listing = false;
  for (const std::string& line : screen) {
    if (in_listing && line.find("\u2570") != std::string::npos) {
      break;
    }
    if (in_listing) {
      rows.push_back(line);
    }
    if (line.find("FILE BROWSER (") != std::string::npos) {
      in_listing = true;
    }
  }
  return rows;
}

// The listing's rows once there are `count` of them, or as they are after `timeout`: the rows
// reach the pane after the header, and after a resize tmux shows the old frame cut or padded until
// the program has drawn the new one.
std::vector<std::string> ListingRowsOnce(
    TmuxSession& session, size_t count,
    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  std::vector<std::string> rows;
  test_support::PollUntil(
      [&] {
        rows = ListingRows(session.Screen());
        return rows.size() == count;
      },
      timeout);
  return rows;
}

void ExpectTerminalRestored(TmuxSession& session) {
  EXPECT_EQ(session.PaneFormat("#{alternate_on}"), "0");
  EXPECT_EQ(session.PaneFormat("#{cursor_flag}"), "1");
  EXPECT_EQ(session.PaneFormat("#{mouse_any_flag}"), "0");
  EXPECT_EQ(session.PaneFormat("#{keypad_cursor_flag}"), "0");
}

TEST_F(StartupTest, ShowsTheListingInOrderAndQuitsCleanlyOnEscape) {
  TmuxSession session(Command(), {{"SDL_AUDIODRIVER", "dummy"}}, 80, 24);
  ASSERT_TRUE(session.WaitFor("FILE BROWSER (" + dir_.path().string() + ")"));
  EXPECT_TRUE(session.WaitFor("Choose audio file")) << session.ScreenText();
  const std::vector<std::string> rows = ListingRowsOnce(session, 15);
  ASSERT_EQ(rows.size(), 15u);
  EXPECT_NE(rows[0].find(".. (parent)"), std::string::npos);
  EXPECT_NE(rows[1].find("[Folder] Zed"), std::string::npos);
  EXPECT_NE(rows[2].find("[Folder] notes"), std::string::npos);
  EXPECT_NE(rows[3].find("A.wav"), std::string::npos);
  EXPECT_NE(rows[4].find("b.MP3"), std::string::npos);
  EXPECT_NE(rows[5].find("t10.flac"), std::string::npos);
  EXPECT_EQ(session.ScreenText().find("c.txt"), std::string::npos);
  EXPECT_EQ(session.ScreenText().find(".hidden"), std::string::npos);

  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);
  ExpectTerminalRestored(session);
}

TEST_F(StartupTest, ResizingGivesTheListingTheNewHeight) {
  TmuxSession session(Command(), {{"SDL_AUDIODRIVER", "dummy"}}, 80, 24);
  ASSERT_TRUE(session.WaitFor("FILE BROWSER ("));
  session.Resize(100, 30);
  ASSERT_TRUE(session.WaitFor("t24.flac"));
  EXPECT_EQ(ListingRowsOnce(session, 21).size(), 21u) << session.ScreenText();
  session.Resize(60, 12);
  ASSERT_TRUE(session.WaitUntilGone("t24.flac"));
  EXPECT_EQ(ListingRowsOnce(session, 3).size(), 3u) << session.ScreenText();
  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);
  ExpectTerminalRestored(session);
}

TEST_F(StartupTest, AMissingStartFileIsReportedAndTheBrowserOpensOnItsFolder) {
  const std::string missing = (dir_.path() / "gone.mp3").string();
  TmuxSession session(test_support::ProgramPath() + " " + missing, {{"SDL_AUDIODRIVER", "dummy"}});
  ASSERT_TRUE(session.WaitFor("FILE BROWSER (" + dir_.path().string() + ")"));
  EXPECT_TRUE(session.WaitFor("Choose audio file")) << session.ScreenText();
  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);
  const std::string after = session.ScreenText();
  EXPECT_NE(after.find("Failed to open file: No such file or directory"), std::string::npos);
  EXPECT_NE(after.find("Failed to load: " + missing), std::string::npos);
  EXPECT_NE(after.find("Warning: failed to load provided file; continuing with file browser."),
            std::string::npos);
}

TEST_F(StartupTest, AHostileStartFileNameNeverReachesTheTerminalRaw) {
  // The name holds a colour change, a bell and a C1 CSI; none may reach the terminal as such.
  const std::string command = test_support::ProgramPath() + " \"$(printf '" + dir_.path().string() +
                              "/bad\\033[31mRED\\007\\302\\23332m.mp3')\"";
  TmuxSession session(command, {{"SDL_AUDIODRIVER", "dummy"}});
  ASSERT_TRUE(session.WaitFor("FILE BROWSER ("));
  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0);
  const std::string after = session.ScreenText();
  EXPECT_NE(after.find("Failed to load: " + dir_.path().string() + "/bad?[31mRED??32m.mp3"),
            std::string::npos)
      << after;
  const std::string bytes = session.OutputBytes();
  EXPECT_EQ(bytes.find("\x1b[31mRED"), std::string::npos);
  EXPECT_EQ(bytes.find("\x07"), std::string::npos);
  EXPECT_EQ(bytes.find("\xc2\x9b"), std::string::npos);
}

TEST(StartupWithoutTerminalTest, RefusesInOneLineWithoutTouchingAnything) {
  test_support::TempDir dir;
  std::string errors;
  const int status =
      test_support::RunProgram({test_support::ProgramPath(), dir.path().string()}, &errors);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(errors,
            "brevalo: a full-screen interface needs a terminal on standard input and output\n");
}

TEST(StartupWithoutTerminalTest, APathThatCannotBeExaminedEndsWithStatusOne) {
  test_support::TempDir dir;
  std::filesystem::create_symlink("loop", dir.path() / "loop");
  std::string errors;
  const int status = test_support::RunProgram(
      {test_support::ProgramPath(), (dir.path() / "loop").string()}, &errors);
  EXPECT_EQ(status, 1);
  EXPECT_NE(errors.find((dir.path() / "loop").string()), std::string::npos);
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
}

}  // namespace
