#include "tests/support/restart_judgement.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace test_support {
namespace {

constexpr int64_t kCount = 100000;

// Recordings as the null sink's monitor gives them: counted frames in a counting track's
// encoding, silence, and a mono marker track's frames.
class Recording {
 public:
  Recording& Counted(int64_t first, int64_t frames) {
    for (int64_t frame = first; frame < first + frames; ++frame) {
      const int64_t n = frame % kCount;
      samples_.push_back(static_cast<int16_t>(n % 30000 + 1));
      samples_.push_back(static_cast<int16_t>(n / 30000 + 1));
    }
    return *this;
  }
  Recording& Silence(int64_t frames) { return Frames(frames, 0); }
  Recording& Marker(int64_t frames) { return Frames(frames, -20000); }
  operator std::vector<int16_t>() const { return samples_; }

 private:
  Recording& Frames(int64_t frames, int16_t sample) {
    samples_.insert(samples_.end(), static_cast<size_t>(2 * frames), sample);
    return *this;
  }
  std::vector<int16_t> samples_;
};

TEST(HearCountTest, FindsTheFirstAndLastFramesAndWhatCameBefore) {
  const CountHeard heard =
      HearCount(Recording().Silence(700).Marker(20).Counted(5000, 3000).Silence(10), kCount);
  EXPECT_EQ(heard.first, 5000);
  EXPECT_EQ(heard.last, 7999);
  EXPECT_EQ(heard.before_first, 720);
  EXPECT_TRUE(heard.jumps.empty());
}

TEST(HearCountTest, TellsJumpsButNotTheCountGoingRoundOrSilenceBetween) {
  const CountHeard heard = HearCount(Recording()
                                         .Counted(kCount - 100, 100)
                                         .Counted(0, 50)
                                         .Silence(300)
                                         .Counted(50, 10)
                                         .Counted(572, 10)
                                         .Counted(400, 5),
                                     kCount);
  EXPECT_EQ(heard.first, kCount - 100);
  EXPECT_EQ(heard.last, 404);
  EXPECT_EQ(heard.jumps, (std::vector<int64_t>{512, -182}));
}

TEST(HearCountTest, HearsNothingInSilence) {
  const CountHeard heard = HearCount(Recording().Silence(44100), kCount);
  EXPECT_FALSE(heard.first.has_value());
  EXPECT_FALSE(heard.last.has_value());
}

// Two lives of the server: the player reached the frame before `resumed_at`, then went on from
// `resumed_at`, heard by one recorder started before the player came back.
std::vector<ServerLifeRecordings> TwoLives(int64_t last, int64_t resumed_at) {
  return {{{Recording().Silence(1000).Counted(0, last + 1)}, {}},
          {{Recording().Silence(2048).Counted(resumed_at, 4096)}, {}}};
}

TEST(JudgeResumesTest, AnExactResumeIsZeroAQuantumHeardTwiceNegativeASkipPositive) {
  for (const int64_t resumed_at : {30000, 30000 - 512, 30000 + 4096}) {
    std::vector<int64_t> jumps;
    const std::vector<ResumeSeen> seen = JudgeResumes(TwoLives(29999, resumed_at), kCount, jumps);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].last_heard, 29999);
    EXPECT_EQ(seen[0].first_heard, resumed_at);
    EXPECT_EQ(seen[0].resumed_after, resumed_at - 30000);
    EXPECT_TRUE(jumps.empty());
  }
}

TEST(JudgeResumesTest, TakesTheLatestEndAndTheEarliestStartOfTheRecorders) {
  // The recorder from before the player lost its last cycle when the server went, and one of
  // the next life's recorders missed the first cycle of the track: neither hides the resume.
  const std::vector<ServerLifeRecordings> lives = {
      {{Recording().Silence(1000).Counted(0, 29488)}, Recording().Counted(10000, 20000)},
      {{Recording().Silence(2048).Counted(30512, 3584),
        Recording().Silence(1536).Counted(30000, 4096)},
       {}}};
  std::vector<int64_t> jumps;
  const std::vector<ResumeSeen> seen = JudgeResumes(lives, kCount, jumps);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].last_heard, 29999);
  EXPECT_EQ(seen[0].first_heard, 30000);
  EXPECT_EQ(seen[0].resumed_after, 0);
}

TEST(JudgeResumesTest, ARecorderLinkedAfterTheTrackCameBackCountsForTheStartToo) {
  // Started before the server came back, but linked after the player's stream: what it heard
  // first was played, so the resume was no later.
  std::vector<ServerLifeRecordings> lives = TwoLives(29999, 30512);
  lives[1].before_the_player.push_back(Recording().Counted(30000, 1000));
  std::vector<int64_t> jumps;
  EXPECT_EQ(JudgeResumes(lives, kCount, jumps)[0].resumed_after, 0);
}

TEST(JudgeResumesTest, NothingHeardOnOneSideLeavesTheResumeUnjudged) {
  std::vector<ServerLifeRecordings> lives = TwoLives(29999, 30000);
  lives[1].before_the_player = {Recording().Silence(44100)};
  std::vector<int64_t> jumps;
  const std::vector<ResumeSeen> seen = JudgeResumes(lives, kCount, jumps);
  EXPECT_EQ(seen[0].last_heard, 29999);
  EXPECT_FALSE(seen[0].first_heard.has_value());
  EXPECT_FALSE(seen[0].resumed_after.has_value());
}

TEST(JudgeResumesTest, ARecorderStartedOnceTheSoundWasBackShowsTheResumeLate) {
  std::vector<ServerLifeRecordings> lives = TwoLives(29999, 30000);
  lives[1].after_the_sound = Recording().Counted(34096, 2000);
  lives[0].after_the_sound = Recording().Counted(20000, 10000);
  std::vector<int64_t> jumps;
  const std::vector<ResumeSeen> seen = JudgeResumes(lives, kCount, jumps);
  EXPECT_EQ(seen[0].resumed_after, 0);
  EXPECT_EQ(seen[0].late_recorder_after, 4096);
}

TEST(JudgeResumesTest, ALifeWhereNothingWasHeardKeepsTheLastFrameHeardBefore) {
  // Paused across a restart, the player resumes after the next one.
  const std::vector<ServerLifeRecordings> lives = {
      {{Recording().Silence(10).Counted(0, 60000)}, {}},
      {{Recording().Silence(44100)}, {}},
      {{Recording().Silence(500).Counted(60000, 100)}, {}}};
  std::vector<int64_t> jumps;
  const std::vector<ResumeSeen> seen = JudgeResumes(lives, kCount, jumps);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_FALSE(seen[0].resumed_after.has_value());
  EXPECT_EQ(seen[1].last_heard, 59999);
  EXPECT_EQ(seen[1].resumed_after, 0);
}

TEST(JudgeResumesTest, CollectsTheJumpsOfEveryRecording) {
  const std::vector<ServerLifeRecordings> lives = {
      {{Recording().Counted(0, 100).Counted(612, 100)},
       Recording().Counted(650, 20).Counted(1694, 18)},
      {{Recording().Silence(5).Counted(712, 10).Counted(2770, 5)}, {}}};
  std::vector<int64_t> jumps;
  JudgeResumes(lives, kCount, jumps);
  EXPECT_EQ(jumps, (std::vector<int64_t>{512, 1024, 2048}));
}

TEST(ReadStreamReportsTest, ReadsEveryLostOrClosedStreamAndSkipsTheRest) {
  TempDir dir;
  const std::filesystem::path path = dir.path() / "log";
  std::ofstream(path) << "lost 900 cycle 850 ticks 73728 rate 1/44100 delay 0 queued 512 "
                         "buffered 0 written 74240 heard 73728 last 512 clock 73728 "
                         "first 3c000200 at 700\n"
                         "something else\n"
                         "closed 2000 cycle 1990 ticks 10 rate 1/44100 delay -3 queued 0 "
                         "buffered 7 written 44100 heard 40000 last 0 clock 44100\n";
  const std::vector<StreamReport> reports = ReadStreamReports(path);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_TRUE(reports[0].lost);
  EXPECT_EQ(reports[0].ended_ns, 900);
  EXPECT_EQ(reports[0].cycle_ns, 850);
  EXPECT_EQ(reports[0].queued, 512u);
  EXPECT_EQ(reports[0].written, 74240u);
  EXPECT_EQ(reports[0].heard, 73728u);
  EXPECT_EQ(reports[0].last, 512u);
  EXPECT_EQ(reports[0].clock, 73728u);
  EXPECT_EQ(reports[0].first_frame, (std::vector<int16_t>{60, 2}));
  EXPECT_EQ(reports[0].first_ns, 700);
  EXPECT_FALSE(reports[1].lost);
  EXPECT_EQ(reports[1].delay, -3);
  EXPECT_EQ(reports[1].buffered, 7u);
  EXPECT_EQ(reports[1].clock, 44100u);
  EXPECT_TRUE(reports[1].first_frame.empty());
}

// A report of a stream whose first frame, taken at `at_ns`, was `frame` of the count, or the
// mono marker track's.
StreamReport StartedWith(std::optional<int64_t> frame, int64_t at_ns) {
  StreamReport report;
  report.first_ns = at_ns;
  const std::vector<int16_t> samples =
      frame.has_value() ? static_cast<std::vector<int16_t>>(Recording().Counted(*frame, 1))
                        : std::vector<int16_t>{-20000};
  report.first_frame = samples;
  return report;
}

TEST(FirstStreamAfterTest, TakesTheStreamThatStartedFirstAfterTheMoment) {
  const std::vector<StreamReport> reports = {StartedWith(100, 10), StartedWith(40000, 300),
                                             StartedWith(30000, 200), StreamReport{},
                                             StartedWith(std::nullopt, 250)};
  EXPECT_EQ(FirstStreamAfter(reports, 150)->first_ns, 200);
  EXPECT_EQ(FirstStreamAfter(reports, 0)->first_ns, 10);
  EXPECT_EQ(FirstStreamAfter(reports, 240)->first_ns, 250);
  EXPECT_FALSE(FirstStreamAfter(reports, 301).has_value()) << "a stream that took no frame";
}

TEST(FirstStreamAfterTest, PlacesAStreamThatStartedWithACountedFrameOnly) {
  EXPECT_EQ(FirstCountedFrame(StartedWith(kCount + 30000, 0), kCount), 30000);
  EXPECT_FALSE(FirstCountedFrame(StartedWith(std::nullopt, 0), kCount).has_value())
      << "the mono marker track's frame";
  StreamReport silent;
  silent.first_frame = {0, 0};
  EXPECT_FALSE(FirstCountedFrame(silent, kCount).has_value());
}

}  // namespace
}  // namespace test_support
