#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_process.h"
#include "bench/join_bench_parts.h"
#include "bench/pty_program.h"
#include "tests/support/album.h"
#include "tests/support/slow_mirror.h"
#include "tests/support/tmux.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kChannels = 2;
constexpr int kRate = 44100;
const std::vector<int64_t> kAlbumFrames = {264601, 265003, 263789};
constexpr double kTrackSeconds = 6.0;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Silent(const std::vector<int16_t>& samples, size_t frame) {
  return samples[frame * kChannels] == 0 && samples[frame * kChannels + 1] == 0;
}

// The silent runs, in frames, between the first sound and the moment the album's last frame
// could have been heard; and how many of the album's frames the sound does not hold in order.
struct Joins {
  std::vector<int64_t> silences;
  std::vector<int64_t> where;  // The album frame that follows each silence.
  int64_t lost = 0;
};

Joins Judge(const test_support::Album& album, const std::vector<int16_t>& heard) {
  Joins joins;
  const size_t frames = heard.size() / kChannels;
  const size_t album_frames = album.pcm.size() / kChannels;
  size_t at = 0;
  while (at < frames && Silent(heard, at)) {
    ++at;
  }
  std::vector<int16_t> sound;
  int64_t run = 0;
  for (; at < frames && sound.size() / kChannels < album_frames; ++at) {
    if (Silent(heard, at)) {
      ++run;
      continue;
    }
    if (run > 0) {
      joins.silences.push_back(run);
      joins.where.push_back(static_cast<int64_t>(sound.size() / kChannels));
      run = 0;
    }
    sound.insert(sound.end(), heard.begin() + static_cast<long>(at * kChannels),
                 heard.begin() + static_cast<long>((at + 1) * kChannels));
  }
  size_t same = 0;
  while (same < sound.size() && sound[same] == album.pcm[same]) {
    ++same;
  }
  joins.lost = static_cast<int64_t>(album_frames - same / kChannels);
  return joins;
}

void PrintJoins(const char* who, const Joins& joins) {
  std::printf("    %-34s silences:", who);
  if (joins.silences.empty()) {
    std::printf(" none");
  }
  for (size_t i = 0; i < joins.silences.size(); ++i) {
    std::printf("%s %.0f ms before frame %lld", i > 0 ? "," : "",
                1000.0 * static_cast<double>(joins.silences[i]) / kRate,
                static_cast<long long>(joins.where[i]));
  }
  std::printf("; frames lost or changed %lld\n", static_cast<long long>(joins.lost));
}

// The program plays the album from its first file on the mirror, recorded, long enough for
// each join to wait out a whole read.
void PlayByTheProgram(test_support::SoundServer& server, const std::string& program,
                      const fs::path& first, double read_seconds) {
  server.StartRecording();
  const std::map<std::string, std::string> environment = server.ClientEnvironment();
  PtyProgram brevalo({program, first.string()}, {environment.begin(), environment.end()});
  const double seconds = read_seconds + 3 * (kTrackSeconds + read_seconds) + 1;
  brevalo.ReadFor(
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  brevalo.Quit();
}

void AtPace(test_support::SoundServer& server, const std::string& program,
            const test_support::Album& album, const fs::path& source, double share) {
  const auto bytes = static_cast<int64_t>(fs::file_size(album.tracks.front()));
  const test_support::ReadPace pace =
      share > 0 ? test_support::PaceToRead(bytes, share * kTrackSeconds) : test_support::ReadPace{};
  test_support::SlowMirror mirror(source, pace);
  if (!mirror.ok()) {
    std::printf("  the mirror did not mount: %s\n", mirror.Errors().c_str());
    return;
  }
  std::vector<std::string> tracks;
  for (const std::string& track : album.tracks) {
    tracks.push_back(mirror / fs::path(track).filename().string());
  }
  const double read_seconds = test_support::SecondsToRead(bytes, pace);
  std::printf("  reading a file takes %.0f %% of its length (%.2f s for %.2f s):\n", 100 * share,
              read_seconds, kTrackSeconds);

  PlayByTheProgram(server, program, tracks.front(), read_seconds);
  PrintJoins("Brevalo:", Judge(album, server.StopRecording()));

  server.StartRecording();
  std::vector<std::string> mpv = {"mpv",
                                  "--no-config",
                                  "--no-video",
                                  "--ao=pulse",
                                  "--really-quiet",
                                  "--prefetch-playlist=yes",
                                  "--gapless-audio=yes"};
  mpv.insert(mpv.end(), tracks.begin(), tracks.end());
  const ProcessCost cost = RunProgram(mpv);
  const std::vector<int16_t> heard = server.StopRecording();
  if (!cost.ok) {
    std::printf("    mpv failed or is missing\n");
    return;
  }
  PrintJoins("mpv, playlist prefetch, gapless:", Judge(album, heard));
}

}  // namespace

void SlowStorageJoins(test_support::SoundServer& server, const std::string& program,
                      const fs::path& folder) {
  const std::string why = test_support::WhyNoSlowMirror();
  if (!why.empty()) {
    std::printf("  slow storage: no mirror (%s)\n", why.c_str());
    return;
  }
  const fs::path source = folder / "slow-album";
  fs::create_directories(source);
  const test_support::Album album =
      test_support::CutAlbum(test_support::MediaFormat::kWav, kAlbumFrames, source);
  if (album.tracks.size() != kAlbumFrames.size()) {
    std::printf("  slow storage: ffmpeg could not cut the album\n");
    return;
  }
  std::printf(
      "  slow storage, an album of three 6 s WAV files on a paced mirror (the joins are before "
      "frames %lld and %lld of %lld):\n",
      static_cast<long long>(kAlbumFrames[0]),
      static_cast<long long>(kAlbumFrames[0] + kAlbumFrames[1]),
      static_cast<long long>(album.pcm.size() / kChannels));
  for (double share : {0.0, 0.25, 0.5}) {
    AtPace(server, program, album, source, share);
  }
}

namespace {

constexpr double kKeysReadSeconds = 8.0;

// The program on a mirror of `source`, with the slow file chosen and its read begun; the
// mirror and the session in `mirror` and `session`.
void ChooseTheSlowFile(const fs::path& source, std::unique_ptr<test_support::SlowMirror>& mirror,
                       std::unique_ptr<test_support::TmuxSession>& session,
                       const std::string& program) {
  const test_support::ReadPace pace = test_support::PaceToRead(
      static_cast<int64_t>(fs::file_size(source / "a slow.wav")), kKeysReadSeconds);
  mirror = std::make_unique<test_support::SlowMirror>(source, pace);
  session = std::make_unique<test_support::TmuxSession>(
      program + " " + test_support::ShellQuoted(mirror->path().string()),
      std::map<std::string, std::string>{{"SDL_AUDIODRIVER", "disk"},
                                         {"SDL_DISKAUDIOFILE", "/dev/null"}},
      100, 24);
  session->WaitFor("b other.wav");
  session->SendKeys({"Home", "Down"});
  test_support::PollUntil(
      [&] { return test_support::HighlightedRow(*session).find("a slow") != std::string::npos; });
  session->SendKeys({"Enter"});
  test_support::PollUntil([&] { return mirror->Opens("a slow.wav") > 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

}  // namespace

void KeysDuringARead(const std::string& program, const fs::path& folder) {
  const std::string why = test_support::WhyNoSlowMirror();
  if (!why.empty()) {
    std::printf("keys during a read: no mirror (%s)\n", why.c_str());
    return;
  }
  const fs::path source = folder / "slow-keys";
  fs::create_directories(source);
  fs::copy_file(test_support::MakeMedia(test_support::Recipe(test_support::MediaFormat::kWav, 10)),
                source / "a slow.wav");
  fs::copy_file(test_support::MakeMedia(test_support::Recipe(test_support::MediaFormat::kWav, 1)),
                source / "b other.wav");
  Spread down;
  Spread escape;
  int moved_during_read = 0;
  int ended_during_read = 0;
  constexpr int kRuns = 3;
  for (int run = 0; run < kRuns; ++run) {
    std::unique_ptr<test_support::SlowMirror> mirror;
    std::unique_ptr<test_support::TmuxSession> session;
    ChooseTheSlowFile(source, mirror, session, program);
    auto start = Clock::now();
    session->SendKeys({"Down"});
    test_support::PollUntil(
        [&] { return test_support::HighlightedRow(*session).find("b other") != std::string::npos; },
        std::chrono::seconds(20));
    down.Add(Since(start) * 1000);
    moved_during_read += mirror->ReadFinished("a slow.wav") ? 0 : 1;
    session->SendKeys({"Escape"});
    session->WaitForExit(std::chrono::seconds(20));

    ChooseTheSlowFile(source, mirror, session, program);
    start = Clock::now();
    session->SendKeys({"Escape"});
    session->WaitForExit(std::chrono::seconds(20));
    escape.Add(Since(start) * 1000);
    ended_during_read += mirror->ReadFinished("a slow.wav") ? 0 : 1;
  }
  std::printf(
      "keys 0.5 s into the read of a chosen 10 s WAV file that takes %.1f s to read (%d runs, "
      "SDL's file driver; the screen is polled every 20 ms):\n"
      "  Down moved the highlight %.0f ms after the key (max %.0f), before the read had "
      "finished in %d of %d\n"
      "  Escape ended the program %.0f ms after the key (max %.0f; goal <= 200), before the "
      "read had finished in %d of %d\n",
      kKeysReadSeconds, kRuns, down.Median(), down.Max(), moved_during_read, kRuns, escape.Median(),
      escape.Max(), ended_during_read, kRuns);
}
