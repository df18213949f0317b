#include "tests/support/prerequisite.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

// What MISSING_PREREQUISITE and REQUIRE_PREREQUISITE report from a helper, caught before they
// reach the running test, with BREVALO_NO_SKIP set to `no_skip` (unset when null).
class PrerequisiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* value = std::getenv("BREVALO_NO_SKIP");
    saved_ = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  }
  void TearDown() override {
    if (saved_) {
      setenv("BREVALO_NO_SKIP", saved_->c_str(), 1);
    } else {
      unsetenv("BREVALO_NO_SKIP");
    }
  }

  static void Missing() { MISSING_PREREQUISITE("tmux (package tmux)"); }
  static void Required(const std::string& why_missing) { REQUIRE_PREREQUISITE(why_missing); }

  static std::vector<::testing::TestPartResult> Reported(const char* no_skip, void (*helper)()) {
    if (no_skip == nullptr) {
      unsetenv("BREVALO_NO_SKIP");
    } else {
      setenv("BREVALO_NO_SKIP", no_skip, 1);
    }
    ::testing::TestPartResultArray results;
    {
      ::testing::ScopedFakeTestPartResultReporter catcher(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      helper();
    }
    std::vector<::testing::TestPartResult> reported;
    for (int i = 0; i < results.size(); ++i) {
      reported.push_back(results.GetTestPartResult(i));
    }
    return reported;
  }

  std::optional<std::string> saved_;
};

TEST_F(PrerequisiteTest, ByHandAMissingPrerequisiteSkipsWithItsName) {
  for (const char* no_skip : {static_cast<const char*>(nullptr), "", "0"}) {
    SCOPED_TRACE(no_skip == nullptr ? "unset" : no_skip);
    const std::vector<::testing::TestPartResult> results = Reported(no_skip, Missing);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].skipped());
    EXPECT_THAT(results[0].message(), ::testing::StartsWith("tmux (package tmux)"));
  }
}

TEST_F(PrerequisiteTest, UnderTheTestCommandItFailsWithItsName) {
  const std::vector<::testing::TestPartResult> results = Reported("1", Missing);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].fatally_failed());
  EXPECT_THAT(results[0].message(),
              ::testing::HasSubstr("missing prerequisite: tmux (package tmux)"));
}

TEST_F(PrerequisiteTest, RequireEndsTheTestOnlyWhenSomethingIsMissing) {
  EXPECT_TRUE(Reported("1", [] { Required(""); }).empty());
  const std::vector<::testing::TestPartResult> results =
      Reported("1", [] { Required("a place where permission bits hold"); });
  ASSERT_EQ(results.size(), 1u);
  EXPECT_THAT(results[0].message(),
              ::testing::HasSubstr("missing prerequisite: a place where permission bits hold"));
}

}  // namespace
