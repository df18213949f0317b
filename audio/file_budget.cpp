#include "audio/file_budget.h"

#include <unistd.h>

std::int64_t MemoryForFiles() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) {
    return kNoLimit;
  }
  return static_cast<std::int64_t>(pages) * page_size / 4;
}

std::int64_t RoomBeside(const SequencedTrack& beside, std::int64_t budget) {
  const std::int64_t held = beside.track->data != nullptr ? beside.track->size : 0;
  return budget > held ? budget - held : 0;
}
