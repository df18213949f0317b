// Keys while a chosen file is read from slow storage (tests/support/slow_mirror.h): the screen
// never waits for the file. Each test asks the mirror's log whether the read had finished when
// the program answered, so nothing here depends on the machine's pace.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/album.h"
#include "tests/support/media.h"
#include "tests/support/slow_mirror.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using test_support::MediaFormat;
using test_support::MediaRecipe;
using test_support::TmuxSession;

constexpr char kSlow[] = "a slow.wav";
constexpr char kOther[] = "b other.wav";
// Reading the slow file (10 s of CD audio) takes this long; every file of the mirror is read at
// the same rate.
constexpr double kSlowReadSeconds = 8.0;
constexpr char kPlayingMark[] = "\u266a\u266a\u266a";

class SlowReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TMUX();
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_SLOW_MIRROR();
    fs::create_directory(dir_.path() / "share");
  }

  // A file of the share, made from `recipe`.
  void Add(const std::string& name, MediaRecipe recipe) {
    fs::copy_file(test_support::MakeMedia(recipe), dir_.path() / "share" / name);
  }

  // The slow file: 10 s, titled "Slow".
  void AddSlow() {
    MediaRecipe slow = test_support::Recipe(MediaFormat::kWav, 10.0);
    slow.tags.title = "Slow";
    Add(kSlow, slow);
  }

  // Mounts the share, read at the pace that makes the slow file take kSlowReadSeconds, and
  // starts the program on it (a file to play at once, or the share's folder).
  void Start(const test_support::MirrorFaults& faults = {}, const std::string& first = "") {
    const auto slow_bytes = static_cast<int64_t>(fs::file_size(dir_.path() / "share" / kSlow));
    pace_ = test_support::PaceToRead(slow_bytes, kSlowReadSeconds);
    mirror_ = std::make_unique<test_support::SlowMirror>(dir_.path() / "share", pace_, faults);
    ASSERT_TRUE(mirror_->ok()) << "the mirror did not mount:\n" << mirror_->Errors();
    const std::string path = first.empty() ? mirror_->path().string() : *mirror_ / first;
    session_ = std::make_unique<TmuxSession>(
        test_support::ProgramPath() + " " + test_support::ShellQuoted(path) + " 2>" +
            test_support::ShellQuoted(dir_ / "errors.txt"),
        std::map<std::string, std::string>{{"SDL_AUDIODRIVER", "disk"},
                                           {"SDL_DISKAUDIOFILE", dir_ / "heard.raw"}},
        100, 24);
  }

  // Home, down to the row of `name`, Return; then waits until the mirror is asked for it.
  void Choose(const std::string& name) {
    ASSERT_TRUE(test_support::HighlightListingRow(*session_, name, Patience()));
    session_->SendKeys({"Enter"});
    ASSERT_TRUE(test_support::PollUntil([&] { return mirror_->Opens(name) > 0; }))
        << name << " was never opened";
  }

  // Long enough for any read of the share to have finished, and then some.
  std::chrono::milliseconds Patience() const {
    return std::chrono::milliseconds(static_cast<int>(1000 * (2 * kSlowReadSeconds + 5)));
  }

  bool HighlightShows(const std::string& name) {
    return test_support::PollUntil(
        [&] { return test_support::HighlightedRow(*session_).find(name) != std::string::npos; },
        Patience());
  }

  std::string Errors() const { return test_support::ReadFile(dir_.path() / "errors.txt"); }

  test_support::TempDir dir_;
  test_support::ReadPace pace_;
  std::unique_ptr<test_support::SlowMirror> mirror_;
  std::unique_ptr<TmuxSession> session_;
};

TEST_F(SlowReadTest, UpAndDownMoveTheHighlightWhileTheChosenFileIsRead) {
  AddSlow();
  Add(kOther, test_support::Recipe(MediaFormat::kWav, 1.0));
  Start();
  Choose(kSlow);
  session_->SendKeys({"Down"});
  ASSERT_TRUE(HighlightShows(kOther)) << session_->ScreenText();
  EXPECT_FALSE(mirror_->ReadFinished(kSlow))
      << "Down was answered only once the chosen file had been read";
  session_->SendKeys({"Up"});
  ASSERT_TRUE(HighlightShows(kSlow)) << session_->ScreenText();
  EXPECT_FALSE(mirror_->ReadFinished(kSlow))
      << "Up was answered only once the chosen file had been read";
  // The keys moved the highlight only: the file chosen before them plays.
  EXPECT_TRUE(test_support::WaitForNowPlaying(*session_, "Slow", Patience()))
      << session_->ScreenText();
  session_->SendKeys({"Escape"});
  EXPECT_EQ(session_->WaitForExit(), 0);
}

TEST_F(SlowReadTest, ReturnOnAnotherFileAbandonsTheFirstRead) {
  AddSlow();
  MediaRecipe other = test_support::Recipe(MediaFormat::kWav, 20.0, 1, 8000);
  other.tags.title = "Chosen";
  Add(kOther, other);
  Start();
  Choose(kSlow);
  Choose(kOther);
  EXPECT_TRUE(test_support::WaitForNowPlaying(*session_, "Chosen", Patience()))
      << session_->ScreenText();
  // Until the first read has had all the time it needs (or was given up and its file closed),
  // and a few passes more, that file is never drawn as playing.
  bool abandoned_played = false;
  const auto watch = [&] {
    abandoned_played =
        abandoned_played || test_support::NowPlaying(*session_).find("Slow") != std::string::npos;
  };
  EXPECT_TRUE(test_support::PollUntil(
      [&] {
        watch();
        return mirror_->ReadFinished(kSlow) || mirror_->Releases(kSlow) >= mirror_->Opens(kSlow);
      },
      Patience()));
  const auto settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < settled) {
    watch();
  }
  EXPECT_FALSE(abandoned_played || session_->OutputBytes().find("Slow") != std::string::npos)
      << "the abandoned file played before the one chosen after it";
  EXPECT_NE(test_support::NowPlaying(*session_).find("Chosen"), std::string::npos)
      << session_->ScreenText();
  session_->SendKeys({"Escape"});
  EXPECT_EQ(session_->WaitForExit(), 0);
}

TEST_F(SlowReadTest, EscapeEndsTheProgramLongBeforeTheReadWouldFinish) {
  AddSlow();
  Start();
  Choose(kSlow);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  session_->SendKeys({"Escape"});
  EXPECT_EQ(session_->WaitForExit(Patience()), 0);
  // How soon it ends is for build/bench/join_bench Keys to measure.
  EXPECT_FALSE(mirror_->ReadFinished(kSlow)) << "the program ended only once the file was read";
}

// The share drops the read halfway through the file, its header read: the file fails as a whole
// (it is not played as far as it came), and the file that played makes way for nothing.
TEST_F(SlowReadTest, AReadDroppedMidwayGivesItsFailureLinesThenNothingIsLoaded) {
  AddSlow();
  MediaRecipe good = test_support::Recipe(MediaFormat::kWav, 30.0, 1, 8000);
  good.tags.title = "Intact";
  Add("1 good.wav", good);
  Add("2 broken.wav", test_support::Recipe(MediaFormat::kWav, 1.0));
  const int64_t half =
      static_cast<int64_t>(fs::file_size(dir_.path() / "share" / "2 broken.wav")) / 2;
  Start({{{"2 broken.wav", half}}, {}}, "1 good.wav");
  ASSERT_TRUE(test_support::WaitForNowPlaying(*session_, "Intact", Patience()))
      << session_->ScreenText();
  Choose("2 broken.wav");
  const std::string failure =
      "Failed to read file: Input/output error\nFailed to load: " + (*mirror_ / "2 broken.wav") +
      "\n";
  EXPECT_TRUE(test_support::PollUntil([&] { return Errors().find(failure) != std::string::npos; },
                                      Patience()))
      << "standard error:\n"
      << Errors();
  // Read ahead too, maybe, as the file after the one that plays, and dropped for the choice: no
  // read gets past halfway.
  EXPECT_LE(mirror_->BytesServed("2 broken.wav"), half * mirror_->Opens("2 broken.wav"))
      << "a read went on past the failure";
  ASSERT_TRUE(session_->WaitFor("Choose audio file")) << session_->ScreenText();
  // The mark of the file that played goes in the same frame, which may reach the pane after
  // the line above: waited for, then whatever starts after it is looked for.
  EXPECT_TRUE(session_->WaitUntilGone(kPlayingMark, Patience())) << session_->ScreenText();
  // Nothing starts by itself after a failure. A fixed wait, for what must not happen: a slow
  // machine can only miss a start, never show one.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_NE(session_->ScreenText().find("Choose audio file"), std::string::npos)
      << session_->ScreenText();
  EXPECT_EQ(session_->ScreenText().find(kPlayingMark), std::string::npos) << session_->ScreenText();
  session_->SendKeys({"Escape"});
  EXPECT_EQ(session_->WaitForExit(), 0);
}

}  // namespace
