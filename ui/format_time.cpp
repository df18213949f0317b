#include "ui/format_time.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

std::string FormatTime(double seconds) {
  if (std::isnan(seconds) || seconds < 0) {
    return "--:--";
  }
  // Limited first: converting a double beyond the int range is undefined.
  constexpr double kLargest = std::numeric_limits<std::int32_t>::max();
  const auto whole = static_cast<std::int32_t>(std::min(seconds, kLargest));
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d", whole / 60, whole % 60);
  return buffer;
}
