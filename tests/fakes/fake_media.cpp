#include <charconv>
#include <fstream>
#include <sstream>

#include "tests/fakes/fake_audio_file.h"

namespace fake_audio {
namespace {

constexpr char kMagicLine[] = "BREVALO-FAKE-AUDIO 1";

template <typename Number>
bool ParseNumber(const std::string& text, Number* out) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return error == std::errc() && end == text.data() + text.size();
}

// Applies one "key=value" line to `contents`; false for a line that means nothing.
bool ApplySetting(const std::string& key, const std::string& value, FakeFileContents* contents) {
  if (key.rfind("tag.", 0) == 0) {
    contents->tags[key.substr(4)] = value;
    return true;
  }
  if (key == "info") {
    contents->has_info_dictionary = value == "1";
    return true;
  }
  if (key == "sample_rate") {
    return ParseNumber(value, &contents->sample_rate);
  }
  if (key == "packets") {
    return ParseNumber(value, &contents->packet_count);
  }
  if (key == "frames_per_packet") {
    return ParseNumber(value, &contents->frames_per_packet);
  }
  if (key == "channels") {
    return ParseNumber(value, &contents->channels);
  }
  if (key == "frames") {
    return ParseNumber(value, &contents->total_frames);
  }
  if (key == "read_error_after") {
    return ParseNumber(value, &contents->read_error_after_frames);
  }
  if (key == "seed") {
    return ParseNumber(value, &contents->seed);
  }
  return false;
}

}  // namespace

std::string EncodeFakeFile(const FakeFileContents& contents) {
  std::ostringstream out;
  out.precision(17);
  out << kMagicLine << '\n'
      << "info=" << (contents.has_info_dictionary ? 1 : 0) << '\n'
      << "packets=" << contents.packet_count << '\n'
      << "frames_per_packet=" << contents.frames_per_packet << '\n'
      << "sample_rate=" << contents.sample_rate << '\n'
      << "channels=" << contents.channels << '\n'
      << "frames=" << contents.total_frames << '\n'
      << "read_error_after=" << contents.read_error_after_frames << '\n'
      << "seed=" << contents.seed << '\n';
  for (const auto& [key, value] : contents.tags) {
    out << "tag." << key << '=' << value << '\n';
  }
  return out.str();
}

bool DecodeFakeFile(const std::string& bytes, FakeFileContents* contents) {
  std::istringstream in(bytes);
  std::string line;
  if (!std::getline(in, line) || line != kMagicLine) {
    return false;
  }
  *contents = FakeFileContents{};
  while (std::getline(in, line)) {
    auto equals = line.find('=');
    if (equals == std::string::npos ||
        !ApplySetting(line.substr(0, equals), line.substr(equals + 1), contents)) {
      return false;
    }
  }
  return true;
}

void WriteFakeAudioFile(const std::filesystem::path& path, const FakeFileContents& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << EncodeFakeFile(contents);
}

std::int16_t FakeSample(UInt32 seed, UInt64 frame, UInt32 channel) {
  UInt64 mixed = seed * 7919ULL + frame * 131ULL + channel * 17ULL;
  auto magnitude = static_cast<std::int16_t>(1 + mixed % 32000);
  return (frame + channel) % 2 == 0 ? magnitude : static_cast<std::int16_t>(-magnitude);
}

std::vector<std::int16_t> FakePcm(const FakeFileContents& contents, UInt64 first_frame,
                                  UInt64 frame_count) {
  std::vector<std::int16_t> samples;
  samples.reserve(frame_count * contents.channels);
  for (UInt64 frame = first_frame; frame < first_frame + frame_count; ++frame) {
    for (UInt32 channel = 0; channel < contents.channels; ++channel) {
      samples.push_back(FakeSample(contents.seed, frame, channel));
    }
  }
  return samples;
}

}  // namespace fake_audio
