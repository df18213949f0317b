#pragma once

// The five texts of the info dictionary, taken from the tags FFmpeg reads from a container.

#include <map>
#include <string>
#include <string_view>

struct AVFormatContext;
struct AVStream;

namespace ffmpeg_platform {

// "title", "artist", "album", "year" and "genre" from the container's tags (ID3v2 or ID3v1,
// Vorbis comments, MP4 atoms, RIFF INFO), then the stream's; a key is absent when no tag has
// a non-empty value. UTF-8 as FFmpeg gives it.
std::map<std::string, std::string> ReadInfoTags(const AVFormatContext* format,
                                                const AVStream* stream);

// The year of a date tag: "2004" for "2004-05-12" or "2004"; a text that does not start with
// a four-digit year is kept as it is.
std::string YearFromDate(std::string_view date);

}  // namespace ffmpeg_platform
