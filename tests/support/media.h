#pragma once

// Audio files made for the tests with the ffmpeg command-line tool: every format the program
// plays, with chosen tags, and the PCM that ffmpeg itself decodes from them as a reference.

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/prerequisite.h"

namespace test_support {

enum class MediaFormat {
  kMp3Cbr,             // 128 kbit/s, with an Info header.
  kMp3Vbr,             // Variable bit rate, with a Xing header (LAME delay and padding).
  kMp3VbrWithoutXing,  // Variable bit rate, no Xing header: the length is not in the file.
  kWav,                // 16-bit PCM.
  kFlac,
  kM4aAac,
  kM4aAlac,
  kAiff,  // A format the program does not play.
};

// Every format the program plays.
inline constexpr MediaFormat kPlayableFormats[] = {
    MediaFormat::kMp3Cbr, MediaFormat::kMp3Vbr, MediaFormat::kMp3VbrWithoutXing,
    MediaFormat::kWav,    MediaFormat::kFlac,   MediaFormat::kM4aAac,
    MediaFormat::kM4aAlac};

struct MediaTags {
  std::string title;
  std::string artist;
  std::string album;
  std::string date;  // As written to the file, e.g. "2004-05-12".
  std::string genre;
};

struct MediaRecipe {
  MediaFormat format = MediaFormat::kWav;
  int sample_rate = 44100;
  int channels = 2;
  double seconds = 1.0;
  int tone_hz = 440;  // The first channel's tone; each further channel's is 110 Hz higher.
  MediaTags tags;
  // MP3 only: the tags go into an ID3v1 trailer, and no ID3v2 tag is written.
  bool id3v1_only = false;
};

// A recipe of `format` without tags.
MediaRecipe Recipe(MediaFormat format, double seconds = 1.0, int channels = 2,
                   int sample_rate = 44100);

// "mp3_cbr", "wav", ...: for test names.
std::string FormatName(MediaFormat format);
// The file name extension, with its dot: ".mp3", ".m4a", ...
std::string FormatExtension(MediaFormat format);
// MP3, AAC: decoded samples only approximate the source.
bool IsLossy(MediaFormat format);

// The frames of the source signal: seconds x sample rate.
int64_t SourceFrames(const MediaRecipe& recipe);

// True when the ffmpeg command-line tool can be run.
bool HaveFfmpeg();

// The file for `recipe`, made once per test program run and reused by every test that asks for
// the same recipe. The signal is a tone per channel over a DC offset, so that no frame is ever
// all zeros. Empty (with a test failure recorded) when ffmpeg fails.
std::string MakeMedia(const MediaRecipe& recipe);

// One file holding the files of `parts` end to end, as `cat` joins recordings: its rate or
// channel count may change midway. Named with the first part's extension; made once per run.
std::string JoinMedia(const std::vector<MediaRecipe>& parts);

// One continuous stereo signal at `sample_rate` cut into files of `format`, the first
// `frame_counts[0]` frames long, the next one going on from there, and so on: an album whose
// tracks join where the music does not stop. Made anew in `folder`, named "01 part", "02 part"...
// Empty (with a failure recorded) when ffmpeg fails.
std::vector<std::string> CutMedia(MediaFormat format, const std::vector<int64_t>& frame_counts,
                                  const std::string& folder, int sample_rate = 44100);

// Interleaved 16-bit samples at the file's own rate and channel count, as
// `ffmpeg -i path -f s16le` decodes them, or at `channels` and `sample_rate` when given (a file
// whose format changes midway is then converted throughout). Empty (with a failure recorded)
// when ffmpeg fails.
std::vector<int16_t> ReferencePcm(const std::string& path, int channels = 0, int sample_rate = 0);

// Runs a program (no shell); its exit status, or -1 when it could not be run. The program's
// standard error goes to `error_output` and its output to `output` when given; otherwise they
// are discarded.
int RunProgram(const std::vector<std::string>& arguments, std::string* error_output = nullptr,
               std::string* output = nullptr);

// What a player that trims as it should delivers of a file made here: ReferencePcm, except that
// for an MP4 it stops at the length the container declares, where ffmpeg's own decoding keeps
// the last AAC frame's padding.
std::vector<int16_t> TrimmedReferencePcm(const std::string& path);

}  // namespace test_support

// Ends the current test, as a missing prerequisite does (tests/support/prerequisite.h), when
// the ffmpeg command-line tool is missing.
#define SKIP_WITHOUT_FFMPEG()                                                                 \
  do {                                                                                        \
    if (!::test_support::HaveFfmpeg()) {                                                      \
      MISSING_PREREQUISITE("the ffmpeg command-line tool (package ffmpeg) makes test media"); \
    }                                                                                         \
  } while (false)
