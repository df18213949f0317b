#pragma once

// An album cut from one continuous signal, played by the built program from its first file on
// through the automatic advance, and judged from what was heard: the files' PCM joined end to
// end, with nothing between two tracks and nothing lost.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/media.h"
#include "tests/support/tmux.h"

namespace test_support {

// `text` quoted for sh.
std::string ShellQuoted(const std::string& text);

// The now-playing line: the screen's second row.
std::string NowPlaying(TmuxSession& session);

// Waits until the now-playing line holds `name`; false after `timeout`.
bool WaitForNowPlaying(TmuxSession& session, const std::string& name,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));

struct Album {
  int sample_rate = 44100;
  std::vector<int64_t> frames;      // Of each track.
  std::vector<std::string> tracks;  // Their paths, in order.
  std::vector<int16_t> pcm;         // What a player that trims as it should delivers, end to end.
};

// Cuts the album's tracks ("01 part", "02 part"...) into `folder`, stereo at `sample_rate`.
// Tracks empty (with a failure recorded) when ffmpeg fails.
Album CutAlbum(MediaFormat format, const std::vector<int64_t>& frames, const std::string& folder,
               int sample_rate = 44100);

// Plays the album by the program from `first_track` (a path to the album's first file, which
// may be a copy of it elsewhere), following the screen to its last track and past it, then
// ends the program with Escape. With `pause`, Space pauses the first track in its last second
// and resumes it. `patience` is how long each track may take to show.
void PlayTheAlbum(const Album& album, const std::string& first_track,
                  const std::map<std::string, std::string>& environment, bool pause = false,
                  std::chrono::milliseconds patience = std::chrono::seconds(10));

// From its first sound on, `heard` (stereo) holds the album sample for sample; with a pause,
// once the pause's silence is left out. On a failure, says where the recording leaves the
// album and how much silence it holds inside.
void ExpectTheAlbum(const Album& album, std::vector<int16_t> heard, bool paused = false);

}  // namespace test_support
