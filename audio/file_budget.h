#pragma once

// How much memory the files held whole may take: the one decoded last and the one read to
// follow or replace it.

#include <cstdint>
#include <limits>

#include "audio/stream_feed.h"

// A read with no limit on the file's size.
inline constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();

// A quarter of the machine's memory; no limit when it cannot be told.
std::int64_t MemoryForFiles();

// The bytes a file read beside `beside` may hold, so that the two stay within `budget`. A
// larger one is read once `beside`'s bytes are gone.
std::int64_t RoomBeside(const SequencedTrack& beside, std::int64_t budget);
