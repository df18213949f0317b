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

std::vector<StreamReport> ReadStreamReports(const std::filesystem::path& path) {
  std::vector<StreamReport> reports;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::map<std::string, std::string> fields;
    std::string event;
    std::string key;
    std::string value;
    words >> event;
    if ((event != "lost" && event != "closed") || !(words >> value)) {
      continue;
    }
    fields["ended"] = value;
    while (words >> key >> value) {
      fields[key] = value;
    }
    const auto number = [&fields](const char* name) -> int64_t {
      const auto found = fields.find(name);
      return found == fields.end() ? 0 : std::stoll(found->second);
    };
    StreamReport report;
    report.lost = event == "lost";
    report.ended_ns = number("ended");
    report.cycle_ns = number("cycle");
    report.delay = number("delay");
    report.queued = static_cast<uint64_t>(number("queued"));
    report.buffered = static_cast<uint64_t>(number("buffered"));
    report.written = static_cast<uint64_t>(number("written"));
    report.heard = static_cast<uint64_t>(number("heard"));
    report.last = static_cast<uint64_t>(number("last"));
    report.clock = static_cast<uint64_t>(number("clock"));
    report.first_ns = number("at");
    // Little-endian 16-bit samples, two hex digits a byte.
    const std::string bytes = fields.count("first") != 0 ? fields["first"] : "";
    for (size_t at = 0; at + 4 <= bytes.size(); at += 4) {
      const auto low = static_cast<unsigned>(std::stoul(bytes.substr(at, 2), nullptr, 16));
      const auto high = static_cast<unsigned>(std::stoul(bytes.substr(at + 2, 2), nullptr, 16));
      report.first_frame.push_back(static_cast<int16_t>(static_cast<uint16_t>(low | high << 8)));
    }
    reports.push_back(report);
  }
  return reports;
}

std::optional<StreamReport> FirstStreamAfter(const std::vector<StreamReport>& reports,
                                             int64_t from_ns) {
  const StreamReport* first = nullptr;
  for (const StreamReport& report : reports) {
    if (!report.first_frame.empty() && report.first_ns >= from_ns &&
        (first == nullptr || report.first_ns < first->first_ns)) {
      first = &report;
    }
  }
  return first != nullptr ? std::optional(*first) : std::nullopt;
}

std::optional<int64_t> FirstCountedFrame(const StreamReport& stream, int64_t count_frames) {
  if (stream.first_frame.size() != 2 ||
      !IsCountedFrame(stream.first_frame[0], stream.first_frame[1])) {
    return std::nullopt;
  }
  return CountedFrame(stream.first_frame[0], stream.first_frame[1]) % count_frames;
}

}  // namespace test_support
