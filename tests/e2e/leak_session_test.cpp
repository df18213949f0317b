// A session of the AddressSanitizer build of the program with LeakSanitizer on: a hundred rounds
// of playing a file, pausing, resuming, previewing its tags and moving on, then the automatic
// advance, then Escape. A leak, or any other sanitizer finding, makes the program write a report
// and exit with a failure status. Only a sanitizer build can tell, so only such a build
// registers the test (tests/e2e/CMakeLists.txt); elsewhere, run by hand, it skips.
//
// BREVALO_SOAK_ROUNDS sets the number of rounds (100 by default) for a longer run by hand.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

// The test and the program it drives come from the same build, with the same flags.
#if defined(__SANITIZE_ADDRESS__)
#define BREVALO_LEAK_CHECKED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BREVALO_LEAK_CHECKED_BUILD 1
#endif
#endif

namespace fs = std::filesystem;
using std::chrono::seconds;
using test_support::MediaFormat;
using test_support::MediaRecipe;
using test_support::TmuxSession;

namespace {

#ifdef BREVALO_LEAK_CHECKED_BUILD
constexpr bool kLeakCheckedBuild = true;
#else
constexpr bool kLeakCheckedBuild = false;
#endif

constexpr int kDefaultRounds = 100;
// Long enough that no file ends within its round, so only the keys change what plays.
constexpr double kFileSeconds = 30;
// The file that ends by itself at the close of the session: its mark shows while it plays, long
// enough to be seen by a test that looks slowly.
constexpr double kShortFileSeconds = 3;
const std::string kShortFile = "zz short.wav";
const std::string kPlayingMark = "\u266a\u266a\u266a";
const std::string kPausedMark = "\u23f8";
// The sanitizer build is slow, and the machine may be busy.
constexpr seconds kStepTimeout{20};

int RoundCount() {
  const char* text = std::getenv("BREVALO_SOAK_ROUNDS");
  const int count = text != nullptr ? std::atoi(text) : kDefaultRounds;
  return std::max(count, 1);
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

// The start of every sanitizer report written, for the failure message.
std::string Reports(const fs::path& folder) {
  std::string text;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    text += "== " + entry.path().filename().string() + "\n" +
            test_support::ReadFile(entry.path()).substr(0, 4000) + "\n";
  }
  return text;
}

class LeakSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kLeakCheckedBuild) {
      MISSING_PREREQUISITE(
          "leaks are seen only in the AddressSanitizer build "
          "(-DBREVALO_SANITIZE=address,undefined; ctest -L leak)");
    }
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_TMUX();
    fs::create_directory(music_);
    fs::create_directory(reports_);
    MakeFiles();
  }

  // One file of each playable format, titled "Song 1", "Song 2", ..., and the short file last.
  void MakeFiles() {
    int number = 0;
    for (MediaFormat format : test_support::kPlayableFormats) {
      ++number;
      MediaRecipe recipe;
      recipe.format = format;
      recipe.seconds = kFileSeconds;
      recipe.tags.title = "Song " + std::to_string(number);
      const std::string source = test_support::MakeMedia(recipe);
      ASSERT_FALSE(source.empty());
      files_.push_back("song " + std::to_string(number) + " " + test_support::FormatName(format) +
                       test_support::FormatExtension(format));
      titles_.push_back(recipe.tags.title);
      fs::copy_file(source, music_ / files_.back());
    }
    MediaRecipe short_recipe;
    short_recipe.seconds = kShortFileSeconds;
    const std::string source = test_support::MakeMedia(short_recipe);
    ASSERT_FALSE(source.empty());
    fs::copy_file(source, music_ / kShortFile);
  }

  std::unique_ptr<TmuxSession> Start() {
    const std::string reports = reports_.string();
    return std::make_unique<TmuxSession>(
        test_support::ProgramPath() + " " + Quote(music_.string()),
        std::map<std::string, std::string>{
            {"SDL_AUDIODRIVER", "disk"},
            {"SDL_DISKAUDIOFILE", dir_ / "played.raw"},
            {"ASAN_OPTIONS", "detect_leaks=1:log_path=" + reports + "/asan"},
            {"UBSAN_OPTIONS", "print_stacktrace=1:log_path=" + reports + "/ubsan"}});
  }

  // Waits for `text` on the screen; a failure names the step and shows the screen.
  static bool Expect(TmuxSession& session, const std::string& text, const std::string& step) {
    if (session.WaitFor(text, kStepTimeout)) {
      return true;
    }
    ADD_FAILURE() << step << ": \"" << text << "\" did not show:\n" << session.ScreenText();
    return false;
  }

  // Return on the highlighted file, Space, Space, Tab, Escape, and a move to the next file
  // (from the last, back to the first).
  static bool PlayRound(TmuxSession& session, int round, const std::string& file,
                        const std::string& title, bool last_file) {
    const std::string step = "round " + std::to_string(round) + " on " + file;
    session.SendKeys({"Enter"});
    if (!Expect(session, file + " " + kPlayingMark, step + ", Return")) {
      return false;
    }
    session.SendKeys({"Space"});
    if (!Expect(session, file + " " + kPausedMark, step + ", Space to pause")) {
      return false;
    }
    session.SendKeys({"Space"});
    if (!Expect(session, file + " " + kPlayingMark, step + ", Space to resume")) {
      return false;
    }
    session.SendKeys({"Tab"});
    if (!Expect(session, "Title:  " + title, step + ", Tab")) {
      return false;
    }
    session.SendKeys({"Escape"});
    if (!session.WaitUntilGone("Track Metadata", kStepTimeout)) {
      ADD_FAILURE() << step << ", Escape: the overlay stays:\n" << session.ScreenText();
      return false;
    }
    if (last_file) {
      session.SendKeys({"Home", "Down"});  // Past the parent row.
    } else {
      session.SendKeys({"Down"});
    }
    return true;
  }

  test_support::TempDir dir_;
  fs::path music_ = dir_.path() / "music";
  fs::path reports_ = dir_.path() / "reports";
  std::vector<std::string> files_;
  std::vector<std::string> titles_;
};

TEST_F(LeakSessionTest, PlayPausePreviewAndSwitchAHundredTimesLeakNothing) {
  const int rounds = RoundCount();
  std::unique_ptr<TmuxSession> session = Start();
  ASSERT_TRUE(Expect(*session, kShortFile, "start"));
  session->SendKeys({"Down"});  // From the parent row to the first file.

  const int count = static_cast<int>(files_.size());
  for (int round = 0; round < rounds; ++round) {
    const int file = round % count;
    ASSERT_TRUE(PlayRound(*session, round + 1, files_[file], titles_[file], file == count - 1));
  }

  // The short file plays out and the advance wraps to the first file.
  session->SendKeys({"End", "Enter"});
  ASSERT_TRUE(Expect(*session, kShortFile + " " + kPlayingMark, "Return on the short file"));
  ASSERT_TRUE(Expect(*session, "Now playing: " + titles_.front(), "the automatic advance"));

  session->SendKeys({"Escape"});
  EXPECT_EQ(session->WaitForExit(seconds(60)), 0) << Reports(reports_);
  EXPECT_EQ(session->PaneFormat("#{alternate_on}"), "0");
  EXPECT_EQ(session->PaneFormat("#{cursor_flag}"), "1");
  EXPECT_EQ(session->PaneFormat("#{mouse_any_flag}"), "0");
  EXPECT_EQ(session->PaneFormat("#{keypad_cursor_flag}"), "0");
  EXPECT_TRUE(fs::is_empty(reports_)) << Reports(reports_);
}

}  // namespace
