#include "tests/support/restart_judgement.h"

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/counting_track.h"

namespace test_support {
namespace {

// The later of two frames of the count, either of which may be missing.
std::optional<int64_t> Later(std::optional<int64_t> a, std::optional<int64_t> b,
                             int64_t count_frames) {
  if (!a.has_value() || !b.has_value()) {
    return a.has_value() ? a : b;
  }
  return CountJump(*a, *b, count_frames) > 0 ? b : a;
}

std::optional<int64_t> Earlier(std::optional<int64_t> a, std::optional<int64_t> b,
                               int64_t count_frames) {
  if (!a.has_value() || !b.has_value()) {
    return a.has_value() ? a : b;
  }
  return CountJump(*a, *b, count_frames) < 0 ? b : a;
}

}  // namespace

int64_t CountJump(int64_t from, int64_t to, int64_t count_frames) {
  int64_t jump = ((to - from) % count_frames + count_frames) % count_frames;
  return jump >= count_frames / 2 ? jump - count_frames : jump;
}

CountHeard HearCount(const std::vector<int16_t>& stereo_samples, int64_t count_frames) {
  CountHeard heard;
  for (size_t i = 0; i + 1 < stereo_samples.size(); i += 2) {
    if (!IsCountedFrame(stereo_samples[i], stereo_samples[i + 1])) {
      heard.before_first += heard.first.has_value() ? 0 : 1;
      continue;
    }
    const int64_t frame = CountedFrame(stereo_samples[i], stereo_samples[i + 1]) % count_frames;
    if (!heard.first.has_value()) {
      heard.first = frame;
    } else if (const int64_t jump = CountJump(*heard.last + 1, frame, count_frames); jump != 0) {
      heard.jumps.push_back(jump);
    }
    heard.last = frame;
  }
  return heard;
}

std::vector<ResumeSeen> JudgeResumes(const std::vector<ServerLifeRecordings>& lives,
                                     int64_t count_frames,
                                     std::vector<int64_t>& jumps_while_playing) {
  std::vector<ResumeSeen> resumes;
  std::optional<int64_t> last_heard;
  for (size_t life = 0; life < lives.size(); ++life) {
    ResumeSeen seen;
    std::optional<int64_t> last_of_life;
    const auto hear = [&](const std::vector<int16_t>& recording) {
      const CountHeard heard = HearCount(recording, count_frames);
      jumps_while_playing.insert(jumps_while_playing.end(), heard.jumps.begin(), heard.jumps.end());
      seen.first_heard = Earlier(seen.first_heard, heard.first, count_frames);
      last_of_life = Later(last_of_life, heard.last, count_frames);
      return heard;
    };
    for (const std::vector<int16_t>& recording : lives[life].before_the_player) {
      hear(recording);
    }
    const CountHeard late = hear(lives[life].after_the_sound);
    if (life > 0) {
      seen.last_heard = last_heard;
      if (last_heard.has_value() && seen.first_heard.has_value()) {
        seen.resumed_after = CountJump(*last_heard + 1, *seen.first_heard, count_frames);
      }
      if (last_heard.has_value() && late.first.has_value()) {
        seen.late_recorder_after = CountJump(*last_heard + 1, *late.first, count_frames);
      }
      resumes.push_back(seen);
    }
    // A life where nothing was heard (the program paused throughout) leaves the last frame heard
    // as it was. (Within a life, recorders' ends lie a few cycles apart; across lives the count
    // may have gone more than half round.)
    if (last_of_life.has_value()) {
      last_heard = last_of_life;
    }
  }
  return resumes;
}

std::vector<LossReport> ReadLossReports(const std::filesystem::path& path) {
  std::vector<LossReport> reports;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::map<std::string, std::string> fields;
    std::string key;
    std::string value;
    while (words >> key >> value) {
      fields[key] = value;
    }
    if (fields.count("lost") == 0 || fields.count("clock") == 0) {
      continue;
    }
    const auto number = [&fields](const char* name) -> int64_t {
      const auto found = fields.find(name);
      return found == fields.end() ? 0 : std::stoll(found->second);
    };
    LossReport report;
    report.lost_ns = number("lost");
    report.cycle_ns = number("cycle");
    report.delay = number("delay");
    report.queued = static_cast<uint64_t>(number("queued"));
    report.buffered = static_cast<uint64_t>(number("buffered"));
    report.written = static_cast<uint64_t>(number("written"));
    report.heard = static_cast<uint64_t>(number("heard"));
    report.last = static_cast<uint64_t>(number("last"));
    report.clock = static_cast<uint64_t>(number("clock"));
    reports.push_back(report);
  }
  return reports;
}

}  // namespace test_support
