#include "tests/support/album.h"

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/pcm.h"

namespace test_support {
namespace {

constexpr int kChannels = 2;

std::string TrackName(const std::string& path) {
  return std::filesystem::path(path).stem().string();
}

}  // namespace

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string NowPlaying(TmuxSession& session) {
  const std::vector<std::string> rows = session.Screen();
  return rows.size() > 1 ? rows[1] : "";
}

bool WaitForNowPlaying(TmuxSession& session, const std::string& name,
                       std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (NowPlaying(session).find(name) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

Album CutAlbum(MediaFormat format, const std::vector<int64_t>& frames, const std::string& folder,
               int sample_rate) {
  Album album;
  album.sample_rate = sample_rate;
  album.frames = frames;
  album.tracks = CutMedia(format, frames, folder, sample_rate);
  for (const std::string& track : album.tracks) {
    const std::vector<int16_t> pcm = TrimmedReferencePcm(track);
    album.pcm.insert(album.pcm.end(), pcm.begin(), pcm.end());
  }
  return album;
}

void PlayTheAlbum(const Album& album, const std::string& first_track,
                  const std::map<std::string, std::string>& environment, bool pause,
                  std::chrono::milliseconds patience) {
  TmuxSession session(ProgramPath() + " " + ShellQuoted(first_track), environment, 200, 24);
  const std::string first = TrackName(album.tracks.front());
  if (pause) {
    EXPECT_TRUE(WaitForNowPlaying(session, first, patience));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    session.SendKeys({"Space"});
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    session.SendKeys({"Space"});
  }
  std::vector<std::string> names;
  for (const std::string& track : album.tracks) {
    names.push_back(TrackName(track));
  }
  names.push_back(first);
  for (const std::string& name : names) {
    EXPECT_TRUE(WaitForNowPlaying(session, name, patience))
        << name << " did not follow in the now-playing line:\n"
        << session.ScreenText();
  }
  session.SendKeys({"Escape"});
  EXPECT_EQ(session.WaitForExit(std::chrono::seconds(10)), 0);
}

void ExpectTheAlbum(const Album& album, std::vector<int16_t> heard, bool paused) {
  if (paused) {
    EXPECT_EQ(InnerSilences(heard, kChannels).size(), 1u) << "only the pause may be silent";
    heard = WithoutSilentFrames(heard, kChannels);
  }
  size_t first = 0;
  while (first + 1 < heard.size() && heard[first] == 0 && heard[first + 1] == 0) {
    first += kChannels;
  }
  const std::vector<int16_t>& expected = album.pcm;
  ASSERT_GE(heard.size() - first, expected.size()) << "the album was not heard to its end";
  size_t differ = 0;
  while (differ < expected.size() && heard[first + differ] == expected[differ]) {
    ++differ;
  }
  if (differ == expected.size()) {
    return;
  }
  const std::vector<int64_t> silences = InnerSilences(
      std::vector<int16_t>(heard.begin() + first, heard.begin() + first + expected.size()),
      kChannels);
  std::string runs;
  for (int64_t run : silences) {
    runs +=
        " " + std::to_string(run) + " (" + std::to_string(run * 1000 / album.sample_rate) + " ms)";
  }
  FAIL() << "the recording leaves the album at frame " << differ / kChannels << " of "
         << expected.size() / kChannels << " (the first join is at frame " << album.frames[0]
         << "); silences inside, in frames:" << (runs.empty() ? " none" : runs);
}

}  // namespace test_support
