#pragma once

// Where a counting track went on after each sound-server restart, judged from recordings of the
// null sink's monitor alone, so that recordings made from outside the program can be judged the
// same way. A recording can lose frames (a recorder joins late, misses a cycle, or goes before
// the player's stream when the server stops) but never holds a frame the sink did not play. So
// the last frame heard before a restart is the latest that any recorder of that server's life
// heard, and the first after it the earliest that any recorder of the next life heard: what the
// recorders lose can only make a resume look later than it was, never hide a skip, and a repeat
// they show did happen.
//
// What the recordings cannot tell is whether frames missing after a restart were skipped by the
// player or lost by the graph as the player's new stream joined it. The program's PipeWire output
// says which (BREVALO_PIPEWIRE_LOG): each of its streams logs, as it ends, the first frame the
// graph took from it, so a resume can also be placed by what the player gave the graph.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace test_support {

// A jump from `from` to `to` in a count that goes round every `count_frames` frames: positive
// forward, the shorter way round.
int64_t CountJump(int64_t from, int64_t to, int64_t count_frames);

// What one recording holds of a count that goes round every `count_frames` frames. Frames that
// do not count (silence, a marker track) are skipped.
struct CountHeard {
  std::optional<int64_t> first;
  std::optional<int64_t> last;
  // Frames recorded before the first counted one: the recorder heard the sink before the count
  // reached it.
  int64_t before_first = 0;
  // Jumps between consecutive counted frames, as CountJump, where the count did not go on by one.
  std::vector<int64_t> jumps;
};
CountHeard HearCount(const std::vector<int16_t>& stereo_samples, int64_t count_frames);

// What was recorded while the server ran once: by recorders started before the player could
// reach it, and by one started once the sound was back (empty when there was none).
struct ServerLifeRecordings {
  std::vector<std::vector<int16_t>> before_the_player;
  std::vector<int16_t> after_the_sound;
};

// What the recordings show of one restart, between two lives of the server.
struct ResumeSeen {
  // The count's last frame heard before the restart, and the first after it; empty when none
  // was heard.
  std::optional<int64_t> last_heard;
  std::optional<int64_t> first_heard;
  // From the frame after `last_heard` to `first_heard`, as CountJump: positive when frames were
  // skipped, negative when heard twice.
  std::optional<int64_t> resumed_after;
  // The same for the first frame heard by the recorder started once the sound was back, as a
  // recorder made again after each restart shows it.
  std::optional<int64_t> late_recorder_after;
};

// The restarts between consecutive `lives`, in order; every jump within a recording goes into
// `jumps_while_playing`.
std::vector<ResumeSeen> JudgeResumes(const std::vector<ServerLifeRecordings>& lives,
                                     int64_t count_frames,
                                     std::vector<int64_t>& jumps_while_playing);

// One line of the program's PipeWire log (BREVALO_PIPEWIRE_LOG): a stream lost or closed, what
// its last position report said, and the first frame the graph took from it. Times are
// CLOCK_MONOTONIC nanoseconds; frames are counted from the stream's start.
struct StreamReport {
  bool lost = false;     // Else closed.
  int64_t ended_ns = 0;  // When the program found it lost, or closed it.
  int64_t cycle_ns = 0;  // The graph's time at the last cycle the stream took part in.
  int64_t delay = 0;     // The graph's delay to its device, in ticks.
  uint64_t queued = 0;   // Frames the stream held that the graph had not taken.
  uint64_t buffered = 0;
  uint64_t written = 0;  // Frames given to the graph, the last cycle's included.
  uint64_t heard = 0;    // The clock at that report.
  uint64_t last = 0;     // Frames of the last cycle's buffer.
  uint64_t clock = 0;    // The clock at the end: where a stream after a lost one plays on from.
  // The first frame the graph took, as 16-bit samples, and when; empty when it took none.
  std::vector<int16_t> first_frame;
  int64_t first_ns = 0;
};

// The reports of the log at `path`, in order; lines that are not reports are skipped.
std::vector<StreamReport> ReadStreamReports(const std::filesystem::path& path);

// The first stream to take a frame from `from_ns` on; empty when there is none.
std::optional<StreamReport> FirstStreamAfter(const std::vector<StreamReport>& reports,
                                             int64_t from_ns);

// The frame of a count that goes round every `count_frames` frames that `stream` started with;
// empty when it did not start with a counted stereo frame.
std::optional<int64_t> FirstCountedFrame(const StreamReport& stream, int64_t count_frames);

}  // namespace test_support
