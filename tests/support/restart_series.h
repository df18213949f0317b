#pragma once

// A series of sound-server restarts under the built program, as a session's service manager
// does them (every daemon sent SIGTERM, a pause, PipeWire's three started 0.3 s apart), at the
// moments that matter to a player that reconnects: in the first second of a stream, well into
// one, while paused, at a join between two tracks of one format, and as a track ends before one
// of another shape. The program plays an album cut from one count, so the recording places every
// resume to the frame; after each return, another client asks the server whether it answers.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/sound_server.h"

namespace test_support {

enum class RestartMoment { kFirstSecond, kWellIn, kPaused, kAtAJoin, kAtATracksEnd };

// "first second", "well in", "paused", "at a join", "at a track's end".
std::string NameOf(RestartMoment moment);

// What one restart came to. Times are seconds from the server's return, or from the resume when
// the restart came during a pause.
struct RestartOutcome {
  RestartMoment moment = RestartMoment::kFirstSecond;
  // Until another client's `pactl info`, and on PipeWire `pw-cli info 0`, had answered; negative
  // when one of them did not within a second.
  double answered_after = -1;
  // Until the recording held the album again; negative when it did not within five seconds.
  // Without a player, nothing is heard and this stays negative.
  double sound_back_after = -1;
  // From the frame after the last one heard before the restart to the first one heard after it:
  // positive when frames were skipped, negative when they were heard twice. Empty when the
  // recording cannot tell: nothing was heard on one side.
  std::optional<int64_t> resumed_after;
};

struct RestartSeriesReport {
  std::vector<RestartOutcome> restarts;
  // Jumps in the count while the album played between two restarts, in frames as above.
  std::vector<int64_t> jumps_while_playing;
  // Why the series stopped short; empty when it ran through.
  std::string failure;
};

struct RestartSeriesOptions {
  int restarts = 10;
  bool with_player = true;
  std::chrono::milliseconds away{3000};
};

// Writes the album into `folder`: three counting tracks cut from one count, then a short mono
// track that needs a stream of its own. The program plays it round and round. False when it
// cannot be written.
bool WriteRestartAlbum(const std::filesystem::path& folder);

// Runs the series on `server`, whose daemons run, with the album of `folder` played by the
// program from its first track (or nothing playing, for comparison). The moments go round in a
// fixed order.
RestartSeriesReport RunRestartSeries(SoundServer& server, const std::filesystem::path& folder,
                                     const RestartSeriesOptions& options);

}  // namespace test_support
