// An album cut from one continuous signal, played by the program from its first file on through
// the automatic advance: what is heard must be the files' PCM joined end to end, with nothing
// between two tracks and nothing lost.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace {

using std::chrono::seconds;
using test_support::MediaFormat;
using test_support::ServerKind;
using test_support::TmuxSession;

// About 1.3 s each, cut at odd frame counts, so that no join falls on a buffer's edge.
const std::vector<int64_t> kTrackFrames = {57331, 58003, 56789};
constexpr int kChannels = 2;

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

// The now-playing line: the screen's second row.
std::string NowPlaying(TmuxSession& session) {
  const std::vector<std::string> rows = session.Screen();
  return rows.size() > 1 ? rows[1] : "";
}

bool WaitForNowPlaying(TmuxSession& session, const std::string& name) {
  const auto deadline = std::chrono::steady_clock::now() + seconds(10);
  while (NowPlaying(session).find(name) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class AlbumTest : public ::testing::Test {
 protected:
  void MakeAlbum(MediaFormat format) {
    SKIP_WITHOUT_TMUX();
    if (!test_support::HaveFfmpeg()) {
      GTEST_SKIP() << "ffmpeg is needed to make the album";
    }
    tracks_ = test_support::CutMedia(format, kTrackFrames, dir_.path().string());
    ASSERT_EQ(tracks_.size(), kTrackFrames.size());
    for (const std::string& track : tracks_) {
      const std::vector<int16_t> pcm = test_support::TrimmedReferencePcm(track);
      album_.insert(album_.end(), pcm.begin(), pcm.end());
    }
  }

  // Plays the album from its first file, following the screen to its last track and past it;
  // with `pause`, Space pauses the first track in its last second and resumes it.
  void PlayTheAlbum(const std::map<std::string, std::string>& environment, bool pause = false) {
    TmuxSession session(test_support::ProgramPath() + " " + Quote(tracks_.front()), environment,
                        200, 24);
    if (pause) {
      EXPECT_TRUE(WaitForNowPlaying(session, "01 part"));
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
      session.SendKeys({"Space"});
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      session.SendKeys({"Space"});
    }
    for (const char* name : {"01 part", "02 part", "03 part", "01 part"}) {
      EXPECT_TRUE(WaitForNowPlaying(session, name))
          << name << " did not follow in the now-playing line:\n"
          << session.ScreenText();
    }
    session.SendKeys({"Escape"});
    EXPECT_EQ(session.WaitForExit(seconds(10)), 0);
  }

  // From its first sound on, the recording holds the album sample for sample; with a pause,
  // once the pause's silence is left out.
  void ExpectTheAlbum(std::vector<int16_t> heard, bool paused = false) {
    if (paused) {
      EXPECT_EQ(test_support::InnerSilences(heard, kChannels).size(), 1u)
          << "only the pause may be silent";
      heard = test_support::WithoutSilentFrames(heard, kChannels);
    }
    size_t first = 0;
    while (first + 1 < heard.size() && heard[first] == 0 && heard[first + 1] == 0) {
      first += kChannels;
    }
    ASSERT_GE(heard.size() - first, album_.size()) << "the album was not heard to its end";
    size_t differ = 0;
    while (differ < album_.size() && heard[first + differ] == album_[differ]) {
      ++differ;
    }
    if (differ == album_.size()) {
      return;
    }
    const std::vector<int64_t> silences = test_support::InnerSilences(
        std::vector<int16_t>(heard.begin() + first, heard.begin() + first + album_.size()),
        kChannels);
    int64_t silent = 0;
    for (int64_t run : silences) {
      silent += run;
    }
    FAIL() << "the recording leaves the album at frame " << differ / kChannels << " of "
           << album_.size() / kChannels << " (the first join is at frame " << kTrackFrames[0]
           << "); " << silences.size() << " silences inside, " << silent << " frames in all";
  }

  test_support::TempDir dir_;
  std::vector<std::string> tracks_;
  std::vector<int16_t> album_;
};

// Through each server, in each format: a pause in the first track's last second too.
class DesktopAlbumTest : public AlbumTest,
                         public ::testing::WithParamInterface<std::tuple<ServerKind, MediaFormat>> {
 protected:
  void SetUp() override { MakeAlbum(std::get<1>(GetParam())); }
};

TEST_P(DesktopAlbumTest, IsHeardAsOnePiece) {
  SKIP_WITHOUT_SOUND_SERVER(std::get<0>(GetParam()));
  test_support::SoundServer server(std::get<0>(GetParam()));
  ASSERT_TRUE(server.ok()) << "the private sound server did not start:\n" << server.Logs();
  ASSERT_TRUE(server.StartRecording());
  PlayTheAlbum(server.ClientEnvironment(), true);
  ExpectTheAlbum(server.StopRecording(), true);
}

class SdlFileAlbumTest : public AlbumTest, public ::testing::WithParamInterface<MediaFormat> {
 protected:
  void SetUp() override { MakeAlbum(GetParam()); }
};

TEST_P(SdlFileAlbumTest, IsWrittenAsOnePiece) {
  const std::string written = (dir_.path() / "heard.raw").string();
  PlayTheAlbum({{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", written}});
  ExpectTheAlbum(test_support::SamplesOf(test_support::ReadFile(written)));
}

// A mono file after a stereo one needs an output of its own: the stereo track is heard whole,
// then the mono one, which the server plays on both channels.
class ShapesJoinTest : public ::testing::TestWithParam<ServerKind> {};

TEST_P(ShapesJoinTest, AnotherFormatFollowsOnceTheEndedTrackIsHeardWhole) {
  SKIP_WITHOUT_TMUX();
  SKIP_WITHOUT_SOUND_SERVER(GetParam());
  test_support::SoundServer server(GetParam());
  ASSERT_TRUE(server.ok()) << "the private sound server did not start:\n" << server.Logs();
  test_support::TempDir dir;
  const std::string stereo =
      test_support::MakeMedia(test_support::Recipe(MediaFormat::kWav, 1.5, 2));
  const std::string mono = test_support::MakeMedia(test_support::Recipe(MediaFormat::kWav, 1.5, 1));
  const std::string first = (dir.path() / "1 stereo.wav").string();
  std::filesystem::copy_file(stereo, first);
  std::filesystem::copy_file(mono, dir.path() / "2 mono.wav");
  std::vector<int16_t> expected = test_support::ReferencePcm(stereo);
  for (int16_t sample : test_support::ReferencePcm(mono)) {
    expected.insert(expected.end(), {sample, sample});
  }
  ASSERT_TRUE(server.StartRecording());
  {
    TmuxSession session(test_support::ProgramPath() + " " + Quote(first),
                        server.ClientEnvironment(), 200, 24);
    EXPECT_TRUE(WaitForNowPlaying(session, "2 mono")) << session.ScreenText();
    EXPECT_TRUE(WaitForNowPlaying(session, "1 stereo")) << session.ScreenText();
    session.SendKeys({"Escape"});
    EXPECT_EQ(session.WaitForExit(seconds(10)), 0);
  }
  std::vector<int16_t> heard = test_support::WithoutSilentFrames(server.StopRecording(), kChannels);
  ASSERT_GE(heard.size(), expected.size()) << "the two tracks were not heard to their end";
  heard.resize(expected.size());
  EXPECT_TRUE(heard == expected) << "the stereo track, then the mono one, each whole";
}

// On a sink that renders far ahead, judged from the screen and the server's list of streams:
// the next track of one shape shows once the clock has run the ended one's length, with no
// drain to wait for; a track left in place is corked soon after its end though the clock of
// its stream, run dry, stops short of it.
class RenderingAheadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TMUX();
    SKIP_WITHOUT_SOUND_SERVER(ServerKind::kPulseAudioRenderingAhead);
    ASSERT_TRUE(server_.ok()) << "the private sound server did not start:\n" << server_.Logs();
  }

  std::string Track(const std::string& name) {
    const std::string path = (dir_.path() / name).string();
    std::filesystem::copy_file(
        test_support::MakeMedia(test_support::Recipe(MediaFormat::kWav, 2.0)), path);
    return path;
  }

  std::unique_ptr<TmuxSession> Play(const std::string& path) {
    return std::make_unique<TmuxSession>(test_support::ProgramPath() + " " + Quote(path),
                                         server_.ClientEnvironment(), 200, 24);
  }

  // Waits until `done` holds; the seconds it took, or -1 after 15 s.
  template <typename Done>
  static double SecondsUntil(Done done) {
    const auto start = std::chrono::steady_clock::now();
    while (!done()) {
      if (std::chrono::steady_clock::now() - start > seconds(15)) {
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  static std::string Elapsed(TmuxSession& session) {
    const std::vector<std::string> rows = session.Screen();
    return rows.size() > 3 ? rows[3].substr(0, 12) : "";
  }

  test_support::SoundServer server_{ServerKind::kPulseAudioRenderingAhead};
  test_support::TempDir dir_;
};

TEST_F(RenderingAheadTest, TheNextTrackShowsOnceTheClockHasRunTheEndedOnesLength) {
  const std::string first = Track("1.wav");
  Track("2.wav");
  auto session = Play(first);
  ASSERT_GE(SecondsUntil([&] { return Elapsed(*session).find("00:01") != std::string::npos; }), 0)
      << session->ScreenText();
  const double shown =
      SecondsUntil([&] { return NowPlaying(*session).find("2.wav") != std::string::npos; });
  // The clock read 00:01 for the first time some 1.0 s before the 2.00 s track ended; waiting
  // for a drain here took another 1.6 s.
  EXPECT_GE(shown, 0) << session->ScreenText();
  EXPECT_LT(shown, 1.5) << "the next track waited for more than the ended one's length";
}

TEST_F(RenderingAheadTest, AnEndedTrackLeftInPlaceIsCorkedThoughItsClockStopsShort) {
  auto session = Play(Track("alone.wav"));
  ASSERT_GE(SecondsUntil([&] { return Elapsed(*session).find("--:--") != std::string::npos; }), 0)
      << session->ScreenText();
  const double corked =
      SecondsUntil([&] { return server_.SinkInputs().find("Corked: yes") != std::string::npos; });
  EXPECT_GE(corked, 0) << "never corked:\n" << server_.SinkInputs();
  EXPECT_LT(corked, 3);
}

std::string FormatParamName(const ::testing::TestParamInfo<MediaFormat>& info) {
  return test_support::FormatName(info.param);
}

const auto kAlbumFormats = ::testing::Values(MediaFormat::kWav, MediaFormat::kFlac,
                                             MediaFormat::kMp3Vbr, MediaFormat::kM4aAac);

std::string AlbumParamName(
    const ::testing::TestParamInfo<std::tuple<ServerKind, MediaFormat>>& info) {
  return test_support::NameOf(std::get<0>(info.param)) + "_" +
         test_support::FormatName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Servers, DesktopAlbumTest,
                         ::testing::Combine(test_support::kDesktopServerKinds, kAlbumFormats),
                         AlbumParamName);
// PipeWire's Pulse service, which the native protocol stands for above, once.
INSTANTIATE_TEST_SUITE_P(PulseService, DesktopAlbumTest,
                         ::testing::Values(std::make_tuple(ServerKind::kPipeWire,
                                                           MediaFormat::kWav)),
                         AlbumParamName);
INSTANTIATE_TEST_SUITE_P(Formats, SdlFileAlbumTest, kAlbumFormats, FormatParamName);
INSTANTIATE_TEST_SUITE_P(Servers, ShapesJoinTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);

}  // namespace
