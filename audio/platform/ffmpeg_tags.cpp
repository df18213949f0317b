#include "audio/platform/ffmpeg_tags.h"

#include <cctype>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace ffmpeg_platform {
namespace {

// The first non-empty value under `key`, matched without regard to case (Vorbis comments
// are upper case), in the container's tags first, then the stream's.
std::string FindTag(const AVFormatContext* format, const AVStream* stream, const char* key) {
  for (const AVDictionary* tags : {format->metadata, stream->metadata}) {
    const AVDictionaryEntry* entry = av_dict_get(tags, key, nullptr, 0);
    if (entry != nullptr && entry->value != nullptr && entry->value[0] != '\0') {
      return entry->value;
    }
  }
  return {};
}

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string YearFromDate(std::string_view date) {
  constexpr size_t kYearDigits = 4;
  if (date.size() < kYearDigits) {
    return std::string(date);
  }
  for (size_t i = 0; i < kYearDigits; ++i) {
    if (!IsDigit(date[i])) {
      return std::string(date);
    }
  }
  if (date.size() > kYearDigits && IsDigit(date[kYearDigits])) {
    return std::string(date);
  }
  return std::string(date.substr(0, kYearDigits));
}

std::map<std::string, std::string> ReadInfoTags(const AVFormatContext* format,
                                                const AVStream* stream) {
  std::map<std::string, std::string> info;
  for (const char* key : {"title", "artist", "album", "genre"}) {
    std::string value = FindTag(format, stream, key);
    if (!value.empty()) {
      info.emplace(key, std::move(value));
    }
  }
  std::string date = FindTag(format, stream, "date");
  if (date.empty()) {
    date = FindTag(format, stream, "year");
  }
  if (!date.empty()) {
    info.emplace("year", YearFromDate(date));
  }
  return info;
}

}  // namespace ffmpeg_platform
