// An album cut from one continuous signal, played by the program from its first file on through
// the automatic advance (tests/support/album.h): what is heard must be the files' PCM joined end
// to end, with nothing between two tracks and nothing lost.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/album.h"
#include "tests/support/media.h"
#include "tests/support/pcm.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace {

using std::chrono::seconds;
using test_support::MediaFormat;
using test_support::NowPlaying;
using test_support::ServerKind;
using test_support::TmuxSession;
using test_support::WaitForNowPlaying;

// About 1.3 s each, cut at odd frame counts, so that no join falls on a buffer's edge.
const std::vector<int64_t> kTrackFrames = {57331, 58003, 56789};
constexpr int kChannels = 2;

class AlbumTest : public ::testing::Test {
 protected:
  void MakeAlbum(MediaFormat format) {
    SKIP_WITHOUT_TMUX();
    SKIP_WITHOUT_FFMPEG();
    album_ = test_support::CutAlbum(format, kTrackFrames, dir_.path().string());
    ASSERT_EQ(album_.tracks.size(), kTrackFrames.size());
  }

  void PlayTheAlbum(const std::map<std::string, std::string>& environment, bool pause = false) {
    test_support::PlayTheAlbum(album_, album_.tracks.front(), environment, pause);
  }

  test_support::TempDir dir_;
  test_support::Album album_;
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
  test_support::ExpectTheAlbum(album_, server.StopRecording(), true);
}

class SdlFileAlbumTest : public AlbumTest, public ::testing::WithParamInterface<MediaFormat> {
 protected:
  void SetUp() override { MakeAlbum(GetParam()); }
};

TEST_P(SdlFileAlbumTest, IsWrittenAsOnePiece) {
  const std::string written = (dir_.path() / "heard.raw").string();
  PlayTheAlbum({{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", written}});
  test_support::ExpectTheAlbum(album_, test_support::SamplesOf(test_support::ReadFile(written)));
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
    TmuxSession session(test_support::ProgramPath() + " " + test_support::ShellQuoted(first),
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

// On a sink that renders far ahead (a stress case, whose pace is its own), judged from the
// screen and the server's list of streams only for what cannot depend on that pace: the next
// track of one shape shows, with no drain to wait for; a track left in place is corked though
// the clock of its stream, run dry, stops short of its end. bench/join_bench times both.
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
    return std::make_unique<TmuxSession>(
        test_support::ProgramPath() + " " + test_support::ShellQuoted(path),
        server_.ClientEnvironment(), 200, 24);
  }

  test_support::SoundServer server_{ServerKind::kPulseAudioRenderingAhead};
  test_support::TempDir dir_;
};

TEST_F(RenderingAheadTest, TheNextTrackShows) {
  const std::string first = Track("1.wav");
  Track("2.wav");
  auto session = Play(first);
  EXPECT_TRUE(WaitForNowPlaying(*session, "2.wav")) << session->ScreenText();
}

TEST_F(RenderingAheadTest, AnEndedTrackLeftInPlaceIsCorkedThoughItsClockStopsShort) {
  auto session = Play(Track("alone.wav"));
  // The elapsed time gives way to "--:--" once the end has been found.
  ASSERT_TRUE(test_support::PollUntil(
      [&] {
        const std::vector<std::string> rows = session->Screen();
        return rows.size() > 3 && rows[3].substr(0, 12).find("--:--") != std::string::npos;
      },
      seconds(15)))
      << session->ScreenText();
  EXPECT_TRUE(test_support::PollUntil([&] {
    return server_.SinkInputs().find("Corked: yes") != std::string::npos;
  })) << "never corked:\n"
      << server_.SinkInputs();
}

// The middle file of an album opens (its header is whole) but its data is cut away: it yields
// no frame. The first track plays, then the third follows and is heard whole. (SDL's file
// driver is left out: there such a file never held the album up.)
class HollowTrackTest : public AlbumTest, public ::testing::WithParamInterface<ServerKind> {
 protected:
  void SetUp() override { MakeAlbum(MediaFormat::kWav); }

  // Cuts a WAV file to its headers and half a frame: it opens, with the length its header still
  // declares, and has nothing to decode. (With no data byte at all it fails to load instead.)
  static void Hollow(const std::string& path) {
    const std::string bytes = test_support::ReadFile(path);
    size_t chunk = 12;
    while (chunk + 8 <= bytes.size() && bytes.compare(chunk, 4, "data") != 0) {
      uint32_t size = 0;
      for (int i = 3; i >= 0; --i) {
        size = size << 8 | static_cast<unsigned char>(bytes[chunk + 4 + i]);
      }
      chunk += 8 + size + (size & 1);
    }
    ASSERT_LE(chunk + 8, bytes.size()) << path << " has no data chunk";
    test_support::WriteFile(path, bytes.substr(0, chunk + 8 + 2));
  }
};

TEST_P(HollowTrackTest, TheTrackAfterItFollows) {
  SKIP_WITHOUT_SOUND_SERVER(GetParam());
  std::vector<int16_t> expected = test_support::ReferencePcm(album_.tracks[0]);
  const std::vector<int16_t> third = test_support::ReferencePcm(album_.tracks[2]);
  expected.insert(expected.end(), third.begin(), third.end());
  Hollow(album_.tracks[1]);
  test_support::SoundServer server(GetParam());
  ASSERT_TRUE(server.ok()) << "the private sound server did not start:\n" << server.Logs();
  ASSERT_TRUE(server.StartRecording());
  {
    TmuxSession session(
        test_support::ProgramPath() + " " + test_support::ShellQuoted(album_.tracks[0]),
        server.ClientEnvironment(), 200, 24);
    EXPECT_TRUE(WaitForNowPlaying(session, "03 part")) << session.ScreenText();
    // The first track shows again once the third has been heard to its end.
    EXPECT_TRUE(WaitForNowPlaying(session, "01 part")) << session.ScreenText();
    session.SendKeys({"Escape"});
    EXPECT_EQ(session.WaitForExit(seconds(10)), 0);
  }
  std::vector<int16_t> heard = test_support::WithoutSilentFrames(server.StopRecording(), kChannels);
  ASSERT_GE(heard.size(), expected.size()) << "the first and third tracks were not heard whole";
  heard.resize(expected.size());
  EXPECT_TRUE(heard == expected) << "the first track, then the third, each whole";
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
INSTANTIATE_TEST_SUITE_P(Servers, HollowTrackTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);
INSTANTIATE_TEST_SUITE_P(Servers, ShapesJoinTest, test_support::kDesktopServerKinds,
                         test_support::ServerKindName);

}  // namespace
