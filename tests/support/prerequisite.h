#pragma once

// What a test needs of the machine beyond the build (a tool, a sound server, FUSE): where it is
// missing, a test binary run by hand skips the test with the reason, and the test command
// (scripts/test.sh), which installs every prerequisite and exports BREVALO_NO_SKIP=1, fails it
// with the prerequisite's name, so that a green run has run every test.

#include <string>

#include <gtest/gtest.h>

namespace test_support {

// True when BREVALO_NO_SKIP is set to anything but "" or "0": a missing prerequisite fails.
bool SkipsForbidden();

}  // namespace test_support

// Ends the current test for want of a prerequisite, from SetUp or the test's body (a helper
// that uses it ends only itself: its caller checks IsSkipped() or HasFatalFailure()). `why`
// names what is missing.
#define MISSING_PREREQUISITE(why)                                                    \
  do {                                                                               \
    if (::test_support::SkipsForbidden()) {                                          \
      GTEST_FAIL() << "missing prerequisite: " << (why)                              \
                   << " (BREVALO_NO_SKIP is set: the test command runs every test)"; \
    }                                                                                \
    GTEST_SKIP() << (why);                                                           \
  } while (false)

// Ends the current test as MISSING_PREREQUISITE does when `why_missing`, a string that is empty
// when everything is there, is not empty.
#define REQUIRE_PREREQUISITE(why_missing)                   \
  do {                                                      \
    const std::string missing_prerequisite = (why_missing); \
    if (!missing_prerequisite.empty()) {                    \
      MISSING_PREREQUISITE(missing_prerequisite);           \
    }                                                       \
  } while (false)
