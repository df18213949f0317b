// Long sessions of the built program: a folder of hundreds of short tracks played one after the
// other by the automatic advance. The program is watched from outside only: the order in which
// it opens the files (inotify), the audio it hands to SDL's disk output (a named pipe read here,
// whose sound must be the tracks end to end), and its resident memory (/proc).
//
// BREVALO_SOAK_TRACKS sets the number of tracks (300 by default) for a longer run by hand.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
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
constexpr int kChannels = 2;  // The test media are 16-bit stereo.
constexpr int kBytesPerFrame = 2 * kChannels;
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
// no all-zero frame, so the silence an output adds (before the start, while a device waits for
// more) is left out, and what remains must be the tracks end to end.
class PlayedAudio {
 public:
  explicit PlayedAudio(fs::path pipe) : pipe_(std::move(pipe)) {
    if (mkfifo(pipe_.c_str(), 0600) != 0) {
      ADD_FAILURE() << "mkfifo " << pipe_ << " failed";
      return;
    }
    reader_ = std::thread([this] { ReadUntilStopped(); });
  }
  ~PlayedAudio() { Stop(); }
  PlayedAudio(const PlayedAudio&) = delete;
  PlayedAudio& operator=(const PlayedAudio&) = delete;

  // The samples of sound heard so far, while the program runs.
  size_t SamplesSoFar() const { return samples_so_far_.load(); }

  // Every frame of sound heard, once the program has exited.
  std::vector<int16_t> Sound() {
    Stop();
    return sound_;
  }

 private:
  void Stop() {
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

  // SDL opens the file afresh for every audio device: one writer after the other.
  void ReadUntilStopped() {
    while (!stopping_) {
      const int fd = open(pipe_.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        break;
      }
      ReadFrames(fd);
      close(fd);
    }
    stopped_ = true;
  }

  void ReadFrames(int fd) {
    std::vector<int16_t> buffer(16 * 1024 * kChannels);
    for (ssize_t count; (count = read(fd, pending_.data() + pending_bytes_,
                                      pending_.size() - pending_bytes_)) > 0;) {
      pending_bytes_ += static_cast<size_t>(count);
      const size_t frames = pending_bytes_ / kBytesPerFrame;
      std::memcpy(buffer.data(), pending_.data(), frames * kBytesPerFrame);
      std::vector<int16_t> samples(buffer.begin(), buffer.begin() + frames * kChannels);
      const std::vector<int16_t> sound = test_support::WithoutSilentFrames(samples, kChannels);
      sound_.insert(sound_.end(), sound.begin(), sound.end());
      samples_so_far_.store(sound_.size());
      pending_bytes_ -= frames * kBytesPerFrame;
      std::memmove(pending_.data(), pending_.data() + frames * kBytesPerFrame, pending_bytes_);
    }
  }

  fs::path pipe_;
  std::thread reader_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> stopped_{false};
  // The reader's own until it has stopped.
  std::vector<unsigned char> pending_ = std::vector<unsigned char>(64 * 1024);
  size_t pending_bytes_ = 0;
  std::vector<int16_t> sound_;
  std::atomic<size_t> samples_so_far_{0};
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

  // Waits until as much sound as every track holds has come through the pipe, with the
  // now-playing line naming a track of the folder. The sound, not the screen: at the disk's pace
  // the first track shows again for a tenth of a second, which a look on a busy machine misses.
  void WaitForEveryTrackHeard(const PlayedAudio& played, TmuxSession& session) {
    const size_t expected = ExpectedSound().size();
    size_t heard = played.SamplesSoFar();
    auto deadline = std::chrono::steady_clock::now() + kTrackTimeout;
    while (heard < expected) {
      std::this_thread::sleep_for(milliseconds(20));
      const size_t now = played.SamplesSoFar();
      if (now > heard) {
        heard = now;
        deadline = std::chrono::steady_clock::now() + kTrackTimeout;
      } else if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "stalled: no sound for " << kTrackTimeout.count() << " ms, at sample "
                      << heard << " of " << expected << ":\n"
                      << session.ScreenText();
        return;
      }
    }
    EXPECT_TRUE(session.WaitFor("Now playing: " + (music_ / "track ").string()))
        << session.ScreenText();
  }

  // The tracks' decoded PCM end to end.
  const std::vector<int16_t>& ExpectedSound() {
    if (!expected_.empty()) {
      return expected_;
    }
    std::map<std::string, std::vector<int16_t>> decoded;
    for (const std::string& name : names_) {
      std::vector<int16_t>& pcm = decoded[fs::path(name).extension()];
      if (pcm.empty()) {
        pcm = test_support::TrimmedReferencePcm(music_ / name);
      }
      expected_.insert(expected_.end(), pcm.begin(), pcm.end());
    }
    return expected_;
  }

  // Each track was heard whole and in order: the sound heard begins with the tracks' decoded
  // PCM end to end.
  void ExpectEveryTrackHeardWhole(std::vector<int16_t> heard) {
    const std::vector<int16_t>& expected = ExpectedSound();
    ASSERT_GE(heard.size(), expected.size()) << "the last tracks were not heard to their end";
    const auto differ = std::mismatch(expected.begin(), expected.end(), heard.begin()).first;
    const size_t frame = static_cast<size_t>(differ - expected.begin()) / kChannels;
    const size_t track_frames = expected.size() / kChannels / names_.size();
    EXPECT_TRUE(differ == expected.end())
        << "what was heard leaves the tracks at frame " << frame << ", about track "
        << frame / track_frames + 1 << " of " << names_.size();
  }

  test_support::TempDir dir_;
  fs::path music_ = dir_.path() / "music";
  fs::path pipe_ = dir_.path() / "played.pipe";
  std::vector<std::string> names_;
  std::vector<int16_t> expected_;
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
  WaitForEveryTrackHeard(played, *session);
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
  // Only time can show a stall that kTrackTimeout lets by, so the bound is time, and generous:
  // a track takes about a tenth of a second here, the bound ten times that and a minute more.
  EXPECT_LT(run_seconds, 60 + count * 1.0) << "the session is far slower than it should be";
  ExpectEveryTrackHeardWhole(played.Sound());
}

// At real speed the next track is read seconds before the one before it has been heard out; it
// must follow it, not cut it off.
TEST_F(LongSessionTest, ShortTracksAreHeardWholeAtRealSpeed) {
  MakeTracks(static_cast<int>(std::size(kCycledFormats)));
  if (HasFatalFailure()) {
    return;
  }
  PlayedAudio played(pipe_);
  FileOpenWatch watch(music_);
  std::unique_ptr<TmuxSession> session = Start("");
  const bool followed = FollowTheAdvance(watch, [](int) {});
  WaitForEveryTrackHeard(played, *session);
  LookAtTagsAndQuit(*session);
  session.reset();
  ASSERT_TRUE(followed);
  ExpectEveryTrackHeardWhole(played.Sound());
}

}  // namespace
