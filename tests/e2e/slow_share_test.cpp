// An album on a share (tests/support/slow_mirror.h) whose first file plays while the next one is
// read ahead, through each desktop's server, recorded: what the listener does meanwhile decides
// what is heard, never the read. Each test waits for events (the mirror's log, the screen, the
// recording), not for a time, so its verdict does not depend on the machine's pace; a machine
// too slow to make the case at all (the read ahead over before the listener leaves) is told so.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/album.h"
#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/slow_mirror.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using test_support::MediaFormat;
using test_support::NowPlaying;
using test_support::ServerKind;
using test_support::TmuxSession;

constexpr int kChannels = 2;
// About 5 s each, cut at odd frame counts. On the share below each takes about 2 s to read: the
// read ahead of the second is under way for the first seconds of the first.
const std::vector<int64_t> kParts = {220501, 221003, 219787};
constexpr char kPart1[] = "01 part.wav";
constexpr char kPart2[] = "02 part.wav";
constexpr char kPart3[] = "03 part.wav";
// A share that answers after 0.3 s, then reads 0.5 MB/s.
const test_support::ReadPace kSharePace{milliseconds(300), 500000};
// Generous: each bound only ends a test whose awaited event never comes.
constexpr seconds kPatience(20);

class SlowShareTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TMUX();
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_SLOW_MIRROR();
    SKIP_WITHOUT_SOUND_SERVER(GetParam());
    fs::create_directory(dir_.path() / "album");
    album_ = test_support::CutAlbum(MediaFormat::kWav, kParts, dir_ / "album");
    ASSERT_EQ(album_.tracks.size(), kParts.size());
    server_ = std::make_unique<test_support::SoundServer>(GetParam());
    ASSERT_TRUE(server_->ok()) << "the private sound server did not start:\n" << server_->Logs();
  }

  // Mounts the album's share, at `mount_point` when given.
  void Mount(const test_support::MirrorFaults& faults, const fs::path& mount_point = {}) {
    mirror_ = std::make_unique<test_support::SlowMirror>(dir_.path() / "album", kSharePace, faults,
                                                         mount_point);
    ASSERT_TRUE(mirror_->ok()) << "the mirror did not mount:\n" << mirror_->Errors();
  }

  // Records, and starts the program on the share's first part; returns once it plays and the
  // second is being read.
  void PlayThePartsFromTheShare() {
    ASSERT_TRUE(server_->StartRecording());
    session_ = std::make_unique<TmuxSession>(
        test_support::ProgramPath() + " " + test_support::ShellQuoted(*mirror_ / kPart1),
        server_->ClientEnvironment(), 200, 24);
    ASSERT_TRUE(test_support::WaitForNowPlaying(*session_, "01 part", kPatience))
        << session_->ScreenText();
    ASSERT_TRUE(test_support::PollUntil([&] { return mirror_->Opens(kPart2) > 0; }, kPatience))
        << "the part after the playing one was never read ahead";
  }

  // Home, Return on ".. (parent)"; returns once the listing shows `folder`.
  void GoUpTo(const fs::path& folder) {
    ASSERT_TRUE(test_support::HighlightListingRow(*session_, ".. (parent)"));
    session_->SendKeys({"Enter"});
    ASSERT_TRUE(session_->WaitFor("FILE BROWSER (" + folder.string() + ")"))
        << session_->ScreenText();
  }

  // The first part's PCM, as the album holds it.
  std::vector<int16_t> Part1() const {
    return {album_.pcm.begin(), album_.pcm.begin() + kParts[0] * kChannels};
  }

  test_support::TempDir dir_;
  test_support::Album album_;
  std::unique_ptr<test_support::SoundServer> server_;
  std::unique_ptr<test_support::SlowMirror> mirror_;
  std::unique_ptr<TmuxSession> session_;
};

// Where the recording, once its silence is left out, first differs from `expected`; its size when
// it holds all of `expected` from its start.
size_t FirstDifference(const std::vector<int16_t>& heard, const std::vector<int16_t>& expected) {
  size_t same = 0;
  while (same < heard.size() && same < expected.size() && heard[same] == expected[same]) {
    ++same;
  }
  return same;
}

// The listener leaves for a folder with no file row while the next part is read ahead: the
// playing part is heard to its end, and nothing follows it.
TEST_P(SlowShareTest, LeavingTheFolderDuringAReadAheadStartsNothing) {
  Mount({});
  PlayThePartsFromTheShare();
  if (HasFatalFailure()) {
    return;
  }
  // The mirror's own folder, which holds the mount point and its log: no file row.
  const fs::path parent = mirror_->path().parent_path();
  GoUpTo(parent);
  if (HasFatalFailure()) {
    return;
  }
  ASSERT_FALSE(mirror_->ReadFinished(kPart2))
      << "the read ahead had ended before the listener left: the case was not made";

  // The now-playing line of anything that started after part 1. The parts have no tags, so the
  // line names each by its path; one that starts with no path known names none.
  std::string started;
  const auto watch = [&] {
    const std::string line = NowPlaying(*session_);
    if (started.empty() && line.find("Now playing:") != std::string::npos &&
        line.find("01 part") == std::string::npos) {
      started = line;
    }
  };
  const auto read_over = [&] {
    return mirror_->ReadFinished(kPart2) || mirror_->Releases(kPart2) >= mirror_->Opens(kPart2);
  };
  const std::vector<int16_t> part1 = Part1();
  const auto part1_heard_out = [&] {
    return test_support::WithoutSilentFrames(server_->RecordedSoFar(), kChannels).size() >=
           part1.size();
  };
  // Until the read ahead has been served whole or abandoned, and part 1 heard out.
  EXPECT_TRUE(test_support::PollUntil(
      [&] {
        watch();
        return !started.empty() || (read_over() && part1_heard_out());
      },
      kPatience))
      << "read over: " << read_over() << ", part 1 heard out: " << part1_heard_out();
  // Then keys answered, passes of the program's after both events: a start they set off shows.
  for (const char* row : {".. (parent)", "[Folder] mirror"}) {
    EXPECT_TRUE(test_support::HighlightListingRow(*session_, row));
    watch();
  }
  const std::vector<int16_t> heard =
      test_support::WithoutSilentFrames(server_->StopRecording(), kChannels);
  EXPECT_TRUE(started.empty()) << "a file started by itself after the listener left (part 2 was "
                               << "opened " << mirror_->Opens(kPart2) << " times): " << started;
  const size_t same = FirstDifference(heard, part1);
  EXPECT_TRUE(same == part1.size() && heard.size() == part1.size())
      << "the recording holds part 1 to its frame " << same / kChannels << " of "
      << part1.size() / kChannels << ", then " << (heard.size() - same) / kChannels
      << " frames of something else";
  session_->SendKeys({"Escape"});
  EXPECT_EQ(session_->WaitForExit(), 0);
}

// The share stops answering: the reads of parts 2 and 3 never return, as on a hard mount whose
// server has gone. A file chosen from a local folder plays all the same, and Escape ends the
// program.
TEST_P(SlowShareTest, AFileChosenFromALocalFolderPlaysWhileTheShareNeverAnswers) {
  // The local folder holds the share's mount point. Its first file is what would follow part 1
  // by the listing; the second one is chosen, so that it can only play by the choice.
  const fs::path local = dir_.path() / "local";
  fs::create_directory(local);
  fs::copy_file(test_support::MakeMedia(test_support::Recipe(MediaFormat::kWav, 1.0)),
                local / "a first.wav");
  test_support::MediaRecipe chosen_recipe = test_support::Recipe(MediaFormat::kWav, 1.5);
  chosen_recipe.tone_hz = 1000;
  chosen_recipe.tags.title = "Chosen";
  const std::string chosen_file = test_support::MakeMedia(chosen_recipe);
  fs::copy_file(chosen_file, local / "b chosen.wav");
  const std::vector<int16_t> chosen = test_support::ReferencePcm(chosen_file);

  Mount({{}, {kPart2, kPart3}}, local / "share");
  PlayThePartsFromTheShare();
  if (HasFatalFailure()) {
    return;
  }
  ASSERT_TRUE(test_support::PollUntil([&] { return mirror_->Unanswered(kPart2) > 0; }, kPatience))
      << "the read ahead of part 2 never reached the mirror";
  GoUpTo(local);
  if (HasFatalFailure()) {
    return;
  }
  ASSERT_TRUE(test_support::HighlightListingRow(*session_, "b chosen.wav"));
  ASSERT_LT(test_support::WithoutSilentFrames(server_->RecordedSoFar(), kChannels).size(),
            Part1().size())
      << "part 1 had been heard out before the file was chosen: the case was not made";
  session_->SendKeys({"Enter"});
  // Its own read takes a pass or two; the bound is there only for a program that never starts it.
  const bool started = test_support::WaitForNowPlaying(*session_, "Chosen", kPatience);
  EXPECT_TRUE(started) << "the local file did not start while the share's reads hang (read of "
                          "part 2 held: "
                       << mirror_->Unanswered(kPart2) << "):\n"
                       << session_->ScreenText();
  // Heard whole, right after part 1's beginning: in part 1's place, not after it or after the
  // file that follows it (the folder plays round, so the chosen file also comes by itself later).
  std::vector<int16_t> heard;
  const auto chosen_at = [&] {
    return std::search(heard.begin(), heard.end(), chosen.begin(), chosen.end()) - heard.begin();
  };
  if (started) {
    EXPECT_TRUE(test_support::PollUntil(
        [&] {
          heard = test_support::WithoutSilentFrames(server_->RecordedSoFar(), kChannels);
          return chosen_at() < static_cast<ptrdiff_t>(heard.size());
        },
        kPatience))
        << "the chosen file was not heard whole";
    const auto at = static_cast<size_t>(chosen_at());
    const std::vector<int16_t> part1 = Part1();
    EXPECT_TRUE(at < heard.size() && at < part1.size() &&
                std::equal(heard.begin(), heard.begin() + at, part1.begin()))
        << "the chosen file was heard from frame " << at / kChannels
        << ", not in part 1's place: part 1 is heard to its frame "
        << FirstDifference(heard, part1) / kChannels << " of " << part1.size() / kChannels;
  }
  session_->SendKeys({"Escape"});
  EXPECT_EQ(session_->WaitForExit(), 0) << session_->ScreenText();
  EXPECT_EQ(session_->PaneFormat("#{alternate_on}"), "0");
  EXPECT_FALSE(session_->SttyBefore().empty());
  EXPECT_EQ(session_->SttyAfter(), session_->SttyBefore());
}

INSTANTIATE_TEST_SUITE_P(Servers, SlowShareTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);

}  // namespace
