#include "app/arguments.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class ArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_dir_ = fs::current_path();
    fs::create_directory(dir_.path() / "music");
    test_support::WriteFile(dir_.path() / "music" / "song.mp3", "x");
    fs::current_path(dir_.path() / "music");
  }
  void TearDown() override { fs::current_path(previous_dir_); }

  StartArguments Resolve(std::vector<std::string> args) {
    args.insert(args.begin(), "brevalo");
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(arg.c_str());
    }
    return ResolveArguments(static_cast<int>(argv.size()), argv.data());
  }

  std::string Music() const { return (dir_.path() / "music").string(); }

  test_support::TempDir dir_;
  fs::path previous_dir_;
};

TEST_F(ArgumentsTest, NoArgumentBrowsesTheCurrentFolderWithNothingToPlay) {
  StartArguments start = Resolve({});
  EXPECT_EQ(start.start_dir, Music());
  EXPECT_EQ(start.start_file, "");
  EXPECT_EQ(start.error, "");
}

TEST_F(ArgumentsTest, FolderArgumentsLoseOneTrailingSlash) {
  EXPECT_EQ(Resolve({"."}).start_dir, Music());
  EXPECT_EQ(Resolve({Music() + "/"}).start_dir, Music());
  EXPECT_EQ(Resolve({"../music/"}).start_dir, Music());
  EXPECT_EQ(Resolve({"."}).start_file, "");
}

TEST_F(ArgumentsTest, AFileIsPlayedFromItsFolder) {
  StartArguments start = Resolve({"song.mp3"});
  EXPECT_EQ(start.start_file, Music() + "/song.mp3");
  EXPECT_EQ(start.start_dir, Music());
}

TEST_F(ArgumentsTest, AMissingPathIsTakenAsAFileToPlay) {
  StartArguments start = Resolve({"nothing-here.flac"});
  EXPECT_EQ(start.start_file, Music() + "/nothing-here.flac");
  EXPECT_EQ(start.start_dir, Music());
  EXPECT_EQ(start.error, "");
}

TEST_F(ArgumentsTest, ALinkToAFolderOpensThatFolderUnderTheLinksName) {
  fs::create_directory_symlink(dir_.path() / "music", dir_.path() / "link");
  StartArguments start = Resolve({(dir_.path() / "link").string()});
  EXPECT_EQ(start.start_dir, (dir_.path() / "link").string());
  EXPECT_EQ(start.start_file, "");
}

TEST_F(ArgumentsTest, ASecondArgumentChangesNothing) {
  StartArguments one = Resolve({"song.mp3"});
  StartArguments two = Resolve({"song.mp3", "/"});
  EXPECT_EQ(one.start_dir, two.start_dir);
  EXPECT_EQ(one.start_file, two.start_file);
}

TEST_F(ArgumentsTest, TheRootStaysTheRoot) {
  EXPECT_EQ(Resolve({"/"}).start_dir, "/");
  StartArguments start = Resolve({"/no-such-file-at-the-root.mp3"});
  EXPECT_EQ(start.start_dir, "/");
  EXPECT_EQ(start.start_file, "/no-such-file-at-the-root.mp3");
}

TEST_F(ArgumentsTest, APathThatCannotBeExaminedIsReportedInOneLine) {
  fs::create_symlink("loop", dir_.path() / "loop");
  StartArguments looping = Resolve({(dir_.path() / "loop").string()});
  EXPECT_NE(looping.error, "");
  EXPECT_EQ(looping.error.find('\n'), std::string::npos);
  EXPECT_NE(looping.error.find((dir_.path() / "loop").string()), std::string::npos);

  StartArguments too_long = Resolve({std::string(300, 'a') + ".mp3"});
  EXPECT_NE(too_long.error, "");
}

}  // namespace
