#include "ui/format_time.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

TEST(FormatTimeTest, MinutesAndSecondsTruncated) {
  EXPECT_EQ(FormatTime(0), "00:00");
  EXPECT_EQ(FormatTime(59.9), "00:59");
  EXPECT_EQ(FormatTime(60), "01:00");
  EXPECT_EQ(FormatTime(3599), "59:59");
  EXPECT_EQ(FormatTime(6000), "100:00");
}

TEST(FormatTimeTest, NoTimeShowsDashes) {
  EXPECT_EQ(FormatTime(-0.5), "--:--");
  EXPECT_EQ(FormatTime(-1), "--:--");
  EXPECT_EQ(FormatTime(std::nan("")), "--:--");
  EXPECT_EQ(FormatTime(-std::numeric_limits<double>::infinity()), "--:--");
}

TEST(FormatTimeTest, HugeValuesAreLimitedInsteadOfOverflowing) {
  const std::string largest = "35791394:07";  // 2^31 - 1 seconds.
  EXPECT_EQ(FormatTime(1e300), largest);
  EXPECT_EQ(FormatTime(std::numeric_limits<double>::infinity()), largest);
  EXPECT_EQ(FormatTime(2147483647.0), largest);
}

}  // namespace
