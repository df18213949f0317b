// Long sessions of the built program: a folder of hundreds of short tracks played one after the
// other by the automatic advance. The program is watched from outside only: the order in which
// it opens the files (inotify), the audio it hands to SDL's disk output (a named pipe read here,
// where each track shows as one run of sound), and its resident memory (/proc).
//
// BREVALO_SOAK_TRACKS sets the number of tracks (300 by default) for a longer run by hand.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using test_support::MediaFormat;
using test_support::MediaRecipe;
using test_support::TmuxSession;

namespace {

constexpr double kTrackSeconds = 0.5;
constexpr int kDefaultTracks = 300;
constexpr int kBytesPerFrame = 4;  // The test media are 16-bit stereo.
// The copies cycle through these, so that every kind of decoder runs all session long.
constexpr MediaFormat kCycledFormats[] = {MediaFormat::kWav, MediaFormat::kFlac,
                                          MediaFormat::kMp3Cbr, MediaFormat::kM4aAac};
// A track that starts loading later than this after the one before counts as a stall.
constexpr milliseconds kTrackTimeout = seconds(20);
// Resident memory may grow this much between the tenth track and the end.
constexpr long kRssGrowthLimitKb = 5 * 1024;

// The tracks of the long run: BREVALO_SOAK_TRACKS, or 300. At least eleven, so that the memory
// after the tenth track can be compared with the memory at the end.
int TrackCount() {
  const char* text = std::getenv("BREVALO_SOAK_TRACKS");
  const int count = text != nullptr ? std::atoi(text) : kDefaultTracks;
  return std::max(count, 11);
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

// The program's resident memory in kB, from /proc; -1 when it cannot be read.
long ResidentKb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::atol(line.c_str() + 6);
    }
  }
  return -1;
}

// The names of the files opened in one folder, in the order of the opens (inotify's IN_OPEN).
// The program opens a file once to play it and once for the Tab preview, nothing else.
class FileOpenWatch {
 public:
  explicit FileOpenWatch(const fs::path& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ < 0 || inotify_add_watch(fd_, folder.c_str(), IN_OPEN) < 0) {
      ADD_FAILURE() << "inotify on " << folder << " failed";
    }
  }
  ~FileOpenWatch() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  FileOpenWatch(const FileOpenWatch&) = delete;
  FileOpenWatch& operator=(const FileOpenWatch&) = delete;

  // The next file opened; nullopt when none is opened within `timeout`.
  std::optional<std::string> Next(milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (opened_.empty()) {
      const auto left =
          std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      ReadEvents();
    }
    std::string name = opened_.front();
    opened_.pop_front();
    return name;
  }

 private:
  void ReadEvents() {
    alignas(inotify_event) char buffer[64 * 1024];
    const ssize_t length = read(fd_, buffer, sizeof buffer);
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        ADD_FAILURE() << "inotify lost events";
      }
      // Opens of the folder itself (its listing) carry no name.
      if ((event->mask & IN_OPEN) != 0 && (event->mask & IN_ISDIR) == 0 && event->len > 0) {
        opened_.emplace_back(event->name);
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }

  int fd_;
  std::deque<std::string> opened_;
};

// SDL's disk output made a named pipe that a thread of the test reads: what arrives is what a
// listener would have heard, every track of the session one after the other. The test media hold
// no all-zero frame, and a track's last device buffer is padded with silence, so each track
// shows as one run of sound: a track cut short shows as a short run, or runs on into the next.
class PlayedAudio {
 public:
  explicit PlayedAudio(fs::path pipe) : pipe_(std::move(pipe)) {
    if (mkfifo(pipe_.c_str(), 0600) != 0) {
      ADD_FAILURE() << "mkfifo " << pipe_ << " failed";
      return;
    }
    reader_ = std::thread([this] { ReadUntilStopped(); });
  }
  ~PlayedAudio() {
    stopping_ = true;
    // Between two audio devices the reader waits in open() for a writer: become that writer.
    while (reader_.joinable() && !stopped_) {
      const int fd = open(pipe_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        close(fd);
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    if (reader_.joinable()) {
      reader_.join();
    }
  }
  PlayedAudio(const PlayedAudio&) = delete;
  PlayedAudio& operator=(const PlayedAudio&) = delete;

  // The lengths in frames of the runs of sound heard so far, in order, once there are `count`;
  // fewer after `timeout`. The reader may still be taking in the last of them after the
  // program has exited.
  std::vector<long> Runs(size_t count, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (runs_.size() >= count || std::chrono::steady_clock::now() > deadline) {
          return runs_;
        }
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
  }

 private:
  // SDL opens the file afresh for every audio device: one writer after the other.
  void ReadUntilStopped() {
    while (!stopping_) {
      const int fd = open(pipe_.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        break;
      }
      ReadFrames(fd);
      close(fd);
      EndRun();
    }
    stopped_ = true;
  }

  void ReadFrames(int fd) {
    unsigned char buffer[64 * 1024];
    long bytes = 0;
    bool sounding = false;
    for (ssize_t count; (count = read(fd, buffer, sizeof buffer)) > 0;) {
      for (ssize_t i = 0; i < count; ++i, ++bytes) {
        sounding = sounding || buffer[i] != 0;
        if (bytes % kBytesPerFrame == kBytesPerFrame - 1) {
          if (sounding) {
            ++run_;
          } else {
            EndRun();
          }
          sounding = false;
        }
      }
    }
  }

  void EndRun() {
    if (run_ > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      runs_.push_back(run_);
    }
    run_ = 0;
  }

  fs::path pipe_;
  std::thread reader_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> stopped_{false};
  long run_ = 0;  // Frames of the run under way; the reader's own.
  std::mutex mutex_;
  std::vector<long> runs_;
};

class LongSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_TMUX();
    fs::create_directory(music_);
  }

  // Copies of one short file per cycled format, named "track 001.wav", "track 002.flac", ...
  void MakeTracks(int count) {
    const int width = std::max<int>(3, static_cast<int>(std::to_string(count).size()));
    for (int number = 1; number <= count; ++number) {
      MediaRecipe recipe;
      recipe.format = kCycledFormats[(number - 1) % std::size(kCycledFormats)];
      recipe.seconds = kTrackSeconds;
      const std::string source = test_support::MakeMedia(recipe);
      ASSERT_FALSE(source.empty());
      std::string digits = std::to_string(number);
      digits.insert(0, width - digits.size(), '0');
      names_.push_back("track " + digits + test_support::FormatExtension(recipe.format));
      fs::copy_file(source, music_ / names_.back());
    }
  }

  // Starts the program on the first track; `disk_delay` is SDL's pause per device buffer in ms,
  // empty for real time.
  std::unique_ptr<TmuxSession> Start(const std::string& disk_delay) {
    std::map<std::string, std::string> environment = {{"SDL_AUDIODRIVER", "disk"},
                                                      {"SDL_DISKAUDIOFILE", pipe_.string()}};
    if (!disk_delay.empty()) {
      environment["SDL_DISKAUDIODELAY"] = disk_delay;
    }
    return std::make_unique<TmuxSession>(
        test_support::ProgramPath() + " " + Quote((music_ / names_.front()).string()), environment);
  }

  // Waits for the opens of every track in order, then the wrap back to the first; calls
  // `after_open(n)` once the nth open (1-based) has been seen. False at the first stall or
  // file out of order.
  template <typename AfterOpen>
  bool FollowTheAdvance(FileOpenWatch& watch, AfterOpen after_open) {
    const size_t count = names_.size();
    for (size_t i = 0; i <= count; ++i) {
      const std::string& expected = names_[i % count];
      const std::optional<std::string> opened = watch.Next(kTrackTimeout);
      if (!opened) {
        ADD_FAILURE() << "stalled: " << expected << " was not opened within "
                      << kTrackTimeout.count() << " ms after the one before";
        return false;
      }
      if (*opened != expected) {
        ADD_FAILURE() << "open number " << i + 1 << " is " << *opened << ", expected " << expected;
        return false;
      }
      after_open(static_cast<int>(i + 1));
    }
    return true;
  }

  // Opens the tag overlay, so the program is seen to answer keys, closes it and quits.
  static void LookAtTagsAndQuit(TmuxSession& session) {
    session.SendKeys({"Tab"});
    EXPECT_TRUE(session.WaitFor("Track Metadata", seconds(10)))
        << "the program did not answer Tab:\n"
        << session.ScreenText();
    session.SendKeys({"Escape"});
    EXPECT_TRUE(session.WaitUntilGone("Track Metadata", seconds(10)));
    session.SendKeys({"Escape"});
    EXPECT_EQ(session.WaitForExit(seconds(20)), 0);
    EXPECT_EQ(session.PaneFormat("#{alternate_on}"), "0");
    EXPECT_EQ(session.PaneFormat("#{cursor_flag}"), "1");
  }

  // Each track was heard whole, as one run of sound of its own length.
  void ExpectEveryTrackHeardWhole(PlayedAudio& played) {
    const std::vector<long> runs = played.Runs(names_.size(), seconds(10));
    ASSERT_GE(runs.size(), names_.size()) << "fewer runs of sound than tracks";
    MediaRecipe recipe;
    recipe.seconds = kTrackSeconds;
    const long track_frames = static_cast<long>(test_support::SourceFrames(recipe));
    int wrong = 0;
    for (size_t i = 0; i < names_.size(); ++i) {
      // Lossy codecs may move a few hundred frames; a cut track loses most of its length.
      if (std::abs(runs[i] - track_frames) > track_frames / 20 && ++wrong <= 5) {
        ADD_FAILURE() << "run of sound " << i + 1 << " (" << names_[i] << ") is " << runs[i]
                      << " frames long, the track " << track_frames;
      }
    }
    EXPECT_EQ(wrong, 0) << "tracks not heard whole";
  }

  test_support::TempDir dir_;
  fs::path music_ = dir_.path() / "music";
  fs::path pipe_ = dir_.path() / "played.pipe";
  std::vector<std::string> names_;
};

TEST_F(LongSessionTest, HundredsOfTracksPlayInOrderWithFlatMemory) {
  const int count = TrackCount();
  MakeTracks(count);
  if (HasFatalFailure()) {
    return;
  }
  PlayedAudio played(pipe_);
  FileOpenWatch watch(music_);
  const auto started = std::chrono::steady_clock::now();
  std::unique_ptr<TmuxSession> session = Start("1");

  long rss_after_ten = -1;
  long rss_at_end = -1;
  const bool followed = FollowTheAdvance(watch, [&](int opened) {
    if (opened == 11) {
      rss_after_ten = ResidentKb(session->ProgramPid());
    } else if (opened == count + 1) {
      rss_at_end = ResidentKb(session->ProgramPid());
    }
  });
  const double run_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  LookAtTagsAndQuit(*session);
  session.reset();
  ASSERT_TRUE(followed);

  std::printf(
      "[ figures  ] %d tracks by the automatic advance in %.1f s; resident memory %ld kB "
      "after track 10, %ld kB after track %d\n",
      count, run_seconds, rss_after_ten, rss_at_end, count);
  ASSERT_GT(rss_after_ten, 0);
  ASSERT_GT(rss_at_end, 0);
  EXPECT_LE(rss_at_end - rss_after_ten, kRssGrowthLimitKb) << "memory grows with every track";
  // A track takes about a tenth of a second here; a stall of any length would show.
  EXPECT_LT(run_seconds, 60 + count * 1.0) << "the session is far slower than it should be";
  ExpectEveryTrackHeardWhole(played);
}

// At real speed the frame that notices a track's end comes long before its queued audio has
// been heard; the next track must wait for it.
TEST_F(LongSessionTest, ShortTracksAreHeardWholeAtRealSpeed) {
  MakeTracks(static_cast<int>(std::size(kCycledFormats)));
  if (HasFatalFailure()) {
    return;
  }
  PlayedAudio played(pipe_);
  FileOpenWatch watch(music_);
  std::unique_ptr<TmuxSession> session = Start("");
  const bool followed = FollowTheAdvance(watch, [](int) {});
  LookAtTagsAndQuit(*session);
  session.reset();
  ASSERT_TRUE(followed);
  ExpectEveryTrackHeardWhole(played);
}

// Through the desktop's sound server, each track's last frames must be drained before the next
// starts: the recording of the server's sink holds the tracks whole, in order.
class LongSessionThroughAServerTest
    : public LongSessionTest,
      public ::testing::WithParamInterface<test_support::ServerKind> {};

TEST_P(LongSessionThroughAServerTest, ShortTracksAreHeardWholeInOrder) {
  SKIP_WITHOUT_SOUND_SERVER(GetParam());
  test_support::SoundServer server(GetParam());
  ASSERT_TRUE(server.ok()) << "the private sound server did not start:\n" << server.Logs();
  std::vector<int16_t> expected;
  for (int tone : {440, 660, 880}) {
    MediaRecipe recipe = test_support::Recipe(MediaFormat::kWav, 1.2, 2, 44100);
    recipe.tone_hz = tone;
    const std::string source = test_support::MakeMedia(recipe);
    ASSERT_FALSE(source.empty());
    names_.push_back("tone " + std::to_string(tone) + ".wav");
    fs::copy_file(source, music_ / names_.back());
    const std::vector<int16_t> pcm = test_support::ReferencePcm(source);
    expected.insert(expected.end(), pcm.begin(), pcm.end());
  }
  ASSERT_TRUE(server.StartRecording());
  FileOpenWatch watch(music_);
  auto session = std::make_unique<TmuxSession>(
      test_support::ProgramPath() + " " + Quote((music_ / names_.front()).string()),
      std::map<std::string, std::string>{{"SDL_AUDIODRIVER", ""},
                                         {"PULSE_SERVER", server.address()}});
  const bool followed = FollowTheAdvance(watch, [](int) {});
  LookAtTagsAndQuit(*session);
  session.reset();
  ASSERT_TRUE(followed);

  const std::vector<int16_t> heard = test_support::WithoutSilentFrames(server.StopRecording(), 2);
  ASSERT_GE(heard.size(), expected.size()) << "frames of the three tracks are missing";
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin()))
      << "the tracks were not heard whole and in order";
}

INSTANTIATE_TEST_SUITE_P(Servers, LongSessionThroughAServerTest, test_support::kAllServerKinds,
                         test_support::ServerKindName);

}  // namespace
