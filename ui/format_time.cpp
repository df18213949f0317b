#include "ui/format_time.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

// Written digit by digit: this runs twice on every pass while a track plays, and a printf is
// far more machinery than two numbers need.
std::string FormatTime(double seconds) {
  if (std::isnan(seconds) || seconds < 0) {
    return "--:--";
  }
  // Limited first: converting a double beyond the int range is undefined.
  constexpr double kLargest = std::numeric_limits<std::int32_t>::max();
  const auto whole = static_cast<std::int32_t>(std::min(seconds, kLargest));
  const std::int32_t rest = whole % 60;
  std::string text = std::to_string(whole / 60);
  if (text.size() < 2) {
    text.insert(text.begin(), '0');
  }
  text += ':';
  text += static_cast<char>('0' + rest / 10);
  text += static_cast<char>('0' + rest % 10);
  return text;
}
