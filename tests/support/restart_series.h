#pragma once

// A series of sound-server restarts under the built program, as a session's service manager
// does them (every daemon sent SIGTERM, a pause, PipeWire's three started 0.3 s apart). Either at
// the moments that matter to a player that reconnects (in the first second of a stream, well into
// one, while paused, at a join between two tracks of one format, and as a track ends before one
// of another shape), or under one long track, 1.4 to 2.3 s after the sound came back each time.
// The program plays tracks cut from one count, so the recordings place every resume to the frame;
// after each return, another client asks the server whether it answers.
//
// How it is recorded: on PulseAudio, by one recorder that connects before the program can come
// back and ends with the server. On PipeWire a recorder torn down with the server may lose the
// last cycles the sink played: the server tears its clients down oldest first, and the graph
// runs on meanwhile. So each life of the server has two recorders started before the program can
// reach it, which hear the track come back, and one started once the sound is back, which goes
// after the program's stream; restart_judgement.h says how they are read together.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/restart_judgement.h"
#include "tests/support/sound_server.h"

namespace test_support {

enum class RestartMoment { kFirstSecond, kWellIn, kPaused, kAtAJoin, kAtATracksEnd };

// "first second", "well in", "paused", "at a join", "at a track's end".
std::string NameOf(RestartMoment moment);

// How PipeWire's three daemons are stopped; PulseAudio has one.
enum class DaemonStop {
  kAllAtOnce,
  // As systemd stops their units: the Pulse service and the session manager, which need the
  // graph, and once they have gone, the graph.
  kAsSystemdDoes,
};

// "all at once", "as systemd does".
std::string NameOf(DaemonStop stop);

// What one restart came to. Times are seconds from the server's return, or from the resume when
// the restart came during a pause.
struct RestartOutcome {
  RestartMoment moment = RestartMoment::kFirstSecond;
  DaemonStop stop = DaemonStop::kAllAtOnce;
  // Until another client's `pactl info`, and on PipeWire `pw-cli info 0`, had answered; negative
  // when one of them did not within the patience RunRestartSeries gives it.
  double answered_after = -1;
  // Until the recording held the track again; negative when it did not within ten seconds.
  // Without a player, nothing is heard and this stays negative.
  double sound_back_after = -1;
  // Where the track went on, from the recordings.
  ResumeSeen seen;
  // When the stop began (CLOCK_MONOTONIC nanoseconds).
  int64_t stop_ns = 0;
  // Through PipeWire's own protocol: what the program's lost stream last reported, the stream it
  // went on with, and the frame of the count that stream gave the graph first (empty when that
  // was no counted frame: the mono track's).
  std::optional<StreamReport> loss;
  std::optional<StreamReport> went_on_with;
  std::optional<int64_t> went_on_from;
};

struct RestartSeriesReport {
  std::vector<RestartOutcome> restarts;
  // Jumps in the count while the track played between two restarts, in frames, as CountJump.
  std::vector<int64_t> jumps_while_playing;
  // Why the series stopped short; empty when it ran through.
  std::string failure;
};

enum class RestartPlan {
  // An album of three counting tracks and a short mono one, round and round, restarted at each
  // of the moments in turn.
  kAlbumAtEachMoment,
  // One counting FLAC, long enough for the series, restarted 1.4, 2.3, 1.8 and 1.6 s after the
  // sound came back, in turn.
  kOneTrackPlaying,
};

// How many frames the count of `plan` holds before it goes round, for a series of `restarts`.
int64_t CountFrames(RestartPlan plan, int restarts = 10);

struct RestartSeriesOptions {
  int restarts = 10;
  bool with_player = true;
  RestartPlan plan = RestartPlan::kAlbumAtEachMoment;
  std::chrono::milliseconds away{3000};
  // How PipeWire's daemons stop each time; empty for each way in turn, all at once first.
  std::optional<DaemonStop> stop;
  // How long another client may take to be answered after each return: a wedged server never
  // answers.
  std::chrono::milliseconds patience{1000};
};

// Writes the album of kAlbumAtEachMoment into `folder`; false when it cannot be written.
bool WriteRestartAlbum(const std::filesystem::path& folder);

// Runs the series on `server`, whose daemons run, with the program playing the tracks of
// `options.plan` from the first (or nothing playing, for comparison).
RestartSeriesReport RunRestartSeries(SoundServer& server, const RestartSeriesOptions& options);

}  // namespace test_support
