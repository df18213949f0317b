// Damaged files of every format, chosen one after the other in the running program: each either
// plays what can be decoded and then makes way for the next file by itself, or fails with the
// load-and-play lines and leaves nothing playing until a good file is chosen, which then plays.

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace test_support {
// The format's name in test names and messages, not its bytes.
static void PrintTo(MediaFormat format, std::ostream* out) { *out << FormatName(format); }
}  // namespace test_support

namespace fs = std::filesystem;
using test_support::LineWith;
using test_support::MediaFormat;
using test_support::MediaRecipe;
using test_support::PollUntil;
using test_support::TmuxSession;

namespace {

constexpr char kPlayingMark[] = "\u266a\u266a\u266a";
// A damaged file is at most this long, and the good one far longer than any step of the test.
constexpr double kDamagedSeconds = 0.5;
constexpr double kGoodSeconds = 30.0;
constexpr auto kOutcomeTimeout = std::chrono::seconds(20);

struct Damage {
  std::string name;
  std::function<std::string(const std::string& bytes)> apply;
};

std::string Garbage(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string garbage(size, '\0');
  for (char& byte : garbage) {
    byte = static_cast<char>(random());
  }
  return garbage;
}

std::string CutTo(const std::string& bytes, size_t size) {
  return bytes.substr(0, std::min(size, bytes.size()));
}

// Each way a file arrives damaged: cut short at several points, bytes flipped, a real start with
// garbage after it, empty, and text that is no audio at all.
std::vector<Damage> Damages() {
  return {
      {"empty", [](const std::string&) { return std::string(); }},
      {"cut at 10 bytes", [](const std::string& b) { return CutTo(b, 10); }},
      {"cut in the header", [](const std::string& b) { return CutTo(b, 40); }},
      {"cut half-way", [](const std::string& b) { return CutTo(b, b.size() / 2); }},
      {"last byte missing", [](const std::string& b) { return CutTo(b, b.size() - 1); }},
      {"block inverted in the middle",
       [](const std::string& b) {
         std::string damaged = b;
         for (size_t i = b.size() / 2; i < std::min(b.size(), b.size() / 2 + 256); ++i) {
           damaged[i] = static_cast<char>(~damaged[i]);
         }
         return damaged;
       }},
      {"bytes flipped all over the second half",
       [](const std::string& b) {
         std::string damaged = b;
         for (size_t i = b.size() / 2; i < b.size(); i += 97) {
           damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
         }
         return damaged;
       }},
      {"start followed by garbage",
       [](const std::string& b) {
         const size_t kept = b.size() / 4;
         return b.substr(0, kept) + Garbage(b.size() - kept, 77);
       }},
      {"text named like audio",
       [](const std::string&) {
         std::string text;
         for (int line = 1; line <= 40; ++line) {
           text += "Line " + std::to_string(line) + " of a note that is not a song.\n";
         }
         return text;
       }},
  };
}

// The row between the two separators under the now-playing line: elapsed time, gauge, total.
std::string ProgressRow(TmuxSession& session) {
  const std::vector<std::string> screen = session.Screen();
  return screen.size() > 3 ? screen[3] : "";
}

// The lines with which load-and-play reports a file that it could not play.
constexpr const char* kFailurePrefixes[] = {
    "Failed to load: ", "Failed to create player for: ", "Failed to start playback for: "};

// Which failure line `errors` holds for `path` ("Failed to load: ", ...), or empty when none.
std::string FailureOf(const std::string& errors, const std::string& path) {
  for (const char* prefix : kFailurePrefixes) {
    if (errors.find(prefix + path + "\n") != std::string::npos) {
      return prefix;
    }
  }
  return "";
}

bool ReportsFailureOf(const std::string& errors, const std::string& path) {
  return !FailureOf(errors, path).empty();
}

// True once the gauge in the progress row has begun to fill.
bool ShowsProgress(const std::string& row) {
  for (const char* glyph :
       {"\u258f", "\u258e", "\u258d", "\u258c", "\u258b", "\u258a", "\u2589", "\u2588"}) {
    if (row.find(glyph) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// One listing row: a damaged file, followed by a good one to go on with.
struct Pair {
  std::string damage;
  std::string damaged_name;
  std::string damaged_path;
  std::string good_name;
};

class DamagedMediaTest : public ::testing::TestWithParam<MediaFormat> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_TMUX();
    fs::create_directory(dir_.path() / "music");
    MediaRecipe damaged;
    damaged.format = GetParam();
    damaged.seconds = kDamagedSeconds;
    damaged.tags = {"Damaged", "Artist", "Album", "2001", "Genre"};
    MediaRecipe good;
    good.format = GetParam();
    good.sample_rate = 8000;
    good.channels = 1;
    good.seconds = kGoodSeconds;
    good.tags.title = "Intact";
    const std::string damaged_path = test_support::MakeMedia(damaged);
    const std::string good_path = test_support::MakeMedia(good);
    ASSERT_FALSE(damaged_path.empty());
    ASSERT_FALSE(good_path.empty());
    const std::string source = test_support::ReadFile(damaged_path);
    ASSERT_GT(source.size(), 1000u);

    const std::string extension = test_support::FormatExtension(GetParam());
    int number = 0;
    for (const Damage& damage : Damages()) {
      ++number;
      const std::string prefix = (number < 10 ? "0" : "") + std::to_string(number);
      Pair pair;
      pair.damage = damage.name;
      pair.damaged_name = prefix + "a " + damage.name + extension;
      pair.damaged_path = (dir_.path() / "music" / pair.damaged_name).string();
      pair.good_name = prefix + "b intact" + extension;
      test_support::WriteFile(pair.damaged_path, damage.apply(source));
      fs::copy_file(good_path, dir_.path() / "music" / pair.good_name);
      pairs_.push_back(pair);
    }
  }

  std::string ErrorOutput() const { return test_support::ReadFile(dir_.path() / "err.txt"); }

  // Home, then down to the row, then Return. Row 0 is the parent row; the files follow in pairs.
  void Choose(TmuxSession& session, int row) {
    std::vector<std::string> keys = {"Home"};
    keys.insert(keys.end(), static_cast<size_t>(row), "Down");
    keys.push_back("Enter");
    session.SendKeys(keys);
  }

  static int DamagedRow(size_t index) { return static_cast<int>(2 * index + 1); }
  static int GoodRow(size_t index) { return static_cast<int>(2 * index + 2); }

  // The good file of `pair` plays: its title is shown, its row is marked and the gauge moves.
  void ExpectGoodPlays(TmuxSession& session, const Pair& pair) {
    ASSERT_TRUE(PollUntil(
        [&] {
          const std::vector<std::string> screen = session.Screen();
          return LineWith(screen, "Now playing: Intact") != "" &&
                 LineWith(screen, pair.good_name).find(kPlayingMark) != std::string::npos;
        },
        kOutcomeTimeout))
        << "the good file after it does not play:\n"
        << session.ScreenText();
    const std::string progress = ProgressRow(session);
    EXPECT_TRUE(PollUntil(
        [&] {
          const std::string row = ProgressRow(session);
          return row != progress && ShowsProgress(row);
        },
        kOutcomeTimeout))
        << "the good file's clock does not move:\n"
        << session.ScreenText();
  }

  test_support::TempDir dir_;
  std::vector<Pair> pairs_;
};

TEST_P(DamagedMediaTest, EachFilePlaysWhatItCanOrFailsAndAGoodFilePlaysAfterwards) {
  const std::string format = test_support::FormatName(GetParam());
  TmuxSession session(test_support::ProgramPath() + " '" + (dir_.path() / "music").string() +
                          "' 2>'" + (dir_ / "err.txt") + "'",
                      {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", dir_ / "played.raw"}},
                      100, 40);
  ASSERT_TRUE(session.WaitFor(pairs_.back().good_name));

  std::ostringstream outcomes;
  for (size_t i = 0; i < pairs_.size(); ++i) {
    const Pair& pair = pairs_[i];
    SCOPED_TRACE(format + ": " + pair.damage);
    Choose(session, DamagedRow(i));

    bool failed = false;
    ASSERT_TRUE(PollUntil(
        [&] {
          failed = ReportsFailureOf(ErrorOutput(), pair.damaged_path);
          return failed ||
                 LineWith(session.Screen(), pair.good_name).find(kPlayingMark) != std::string::npos;
        },
        kOutcomeTimeout))
        << "neither a failure nor the next file playing:\n"
        << session.ScreenText() << "\nstandard error:\n"
        << ErrorOutput();

    if (failed) {
      const std::string line = FailureOf(ErrorOutput(), pair.damaged_path);
      outcomes << "  " << pair.damage << ": " << line.substr(0, line.size() - 2) << "\n";
      ASSERT_TRUE(session.WaitFor("Choose audio file")) << session.ScreenText();
      // Nothing starts by itself after a failure: the screen stays as it is. A fixed wait, for
      // what must not happen: a slow machine can only miss a start, never show one.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_NE(session.ScreenText().find("Choose audio file"), std::string::npos)
          << session.ScreenText();
      EXPECT_EQ(LineWith(session.Screen(), pair.good_name).find(kPlayingMark), std::string::npos);
      Choose(session, GoodRow(i));
    } else {
      outcomes << "  " << pair.damage << ": played, then the next file started\n";
    }
    ExpectGoodPlays(session, pair);
  }
  std::cout << format << ":\n" << outcomes.str();

  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(), 0) << session.ScreenText();
  // Nothing but the failure lines of the files that failed reached standard error.
  std::istringstream errors(ErrorOutput());
  for (std::string line; std::getline(errors, line);) {
    bool known = false;
    for (const Pair& pair : pairs_) {
      known = known || FailureOf(line + "\n", pair.damaged_path) != "";
    }
    EXPECT_TRUE(known) << "unexpected line on standard error: " << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, DamagedMediaTest,
                         ::testing::Values(MediaFormat::kMp3Cbr, MediaFormat::kMp3Vbr,
                                           MediaFormat::kWav, MediaFormat::kFlac,
                                           MediaFormat::kM4aAac, MediaFormat::kM4aAlac),
                         [](const ::testing::TestParamInfo<MediaFormat>& info) {
                           return test_support::FormatName(info.param);
                         });

}  // namespace
