#include "browser/directory_listing.h"

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "browser/screen_size.h"
#include "tests/browser/unprivileged_scan.h"
#include "tests/support/prerequisite.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Row = std::tuple<std::string, std::string, bool>;

std::vector<Row> RowsOf(const std::vector<FileEntry>& entries) {
  std::vector<Row> rows;
  for (const FileEntry& entry : entries) {
    rows.emplace_back(entry.label, entry.path, entry.is_directory);
  }
  return rows;
}

std::vector<std::string> LabelsOf(const std::vector<FileEntry>& entries) {
  std::vector<std::string> labels;
  for (const FileEntry& entry : entries) {
    labels.push_back(entry.label);
  }
  return labels;
}

class DirectoryListingTest : public ::testing::Test {
 protected:
  std::string Dir() const { return dir_.path().string(); }
  std::string At(const std::string& name) const { return dir_ / name; }
  Row Parent() const { return {".. (parent)", dir_.path().parent_path().string(), true}; }

  void Touch(const std::string& name) const { test_support::WriteFile(At(name), "x"); }
  void MakeFolder(const std::string& name) const { fs::create_directory(At(name)); }
  void Link(const std::string& name, const std::string& target) const {
    fs::create_symlink(target, At(name));
  }
  // Lets uid 65534 walk down to the tree: mkdtemp makes it private to its owner.
  void OpenTreeToOthers() const {
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
  }

  test_support::TempDir dir_;
};

TEST_F(DirectoryListingTest, ListsParentThenFoldersThenSupportedFiles) {
  for (const char* file : {"b.MP3", "A.wav", "c.txt", ".hidden.mp3", "x.flac.bak"}) {
    Touch(file);
  }
  for (const char* folder : {"notes", "Zed", ".git"}) {
    MakeFolder(folder);
  }

  const std::vector<Row> expected = {
      Parent(),
      {"[Folder] Zed", At("Zed"), true},
      {"[Folder] notes", At("notes"), true},
      {"A.wav", At("A.wav"), false},
      {"b.MP3", At("b.MP3"), false},
  };
  EXPECT_EQ(RowsOf(ScanDirectory(Dir())), expected);
}

TEST_F(DirectoryListingTest, OrdersByBytesCaseSensitively) {
  for (const char* file :
       {"abc.mp3", "Zed.mp3", "9 lives.mp3", "_under.mp3", "\xc3\xa9t\xc3\xa9.mp3"}) {
    Touch(file);
  }
  for (const char* folder : {"beta", "Alpha", "10"}) {
    MakeFolder(folder);
  }

  // Digits before capitals before '_' before lower case; a UTF-8 lead byte (0xC3) after all.
  const std::vector<std::string> expected = {
      ".. (parent)", "[Folder] 10", "[Folder] Alpha", "[Folder] beta",        "9 lives.mp3",
      "Zed.mp3",     "_under.mp3",  "abc.mp3",        "\xc3\xa9t\xc3\xa9.mp3"};
  EXPECT_EQ(LabelsOf(ScanDirectory(Dir())), expected);
}

TEST_F(DirectoryListingTest, FolderTestComesBeforeTheExtension) {
  MakeFolder("Live.mp3");
  MakeFolder(".hidden folder");
  Touch("song.mp3");

  const std::vector<Row> expected = {
      Parent(), {"[Folder] Live.mp3", At("Live.mp3"), true}, {"song.mp3", At("song.mp3"), false}};
  EXPECT_EQ(RowsOf(ScanDirectory(Dir())), expected);
}

TEST_F(DirectoryListingTest, OnlyTheLastExtensionCountsInAnyCase) {
  for (const char* file :
       {"mp3", "song.mp3.txt", "Song.M4A", "a.tar.flac", "tune.Wav", "x.mp", "y.flacc", "z."}) {
    Touch(file);
  }
  EXPECT_EQ(LabelsOf(ScanDirectory(Dir())),
            (std::vector<std::string>{".. (parent)", "Song.M4A", "a.tar.flac", "tune.Wav"}));
}

TEST_F(DirectoryListingTest, EmptyOrUnsupportedFolderGivesParentRowAlone) {
  EXPECT_EQ(RowsOf(ScanDirectory(Dir())), std::vector<Row>{Parent()});
  Touch("notes.txt");
  Touch(".profile");
  EXPECT_EQ(RowsOf(ScanDirectory(Dir())), std::vector<Row>{Parent()});
}

TEST_F(DirectoryListingTest, LinksCountAsWhatTheyPointAtButKeepTheirOwnPath) {
  MakeFolder("real");
  Touch("real/inside.mp3");
  Touch("A.wav");
  Link("Linked", At("real"));
  Link("folder.mp3", "real");
  Link("alias.flac", "A.wav");
  Link("alias.txt", "A.wav");

  const std::vector<Row> expected = {
      Parent(),
      {"[Folder] Linked", At("Linked"), true},
      {"[Folder] folder.mp3", At("folder.mp3"), true},
      {"[Folder] real", At("real"), true},
      {"A.wav", At("A.wav"), false},
      {"alias.flac", At("alias.flac"), false},
  };
  EXPECT_EQ(RowsOf(ScanDirectory(Dir())), expected);
}

TEST_F(DirectoryListingTest, DanglingLinkIsAFileWhenItsNameMatches) {
  Link("gone.mp3", "nowhere");
  Link("gone.txt", "nowhere");
  Link("through_file.wav", "b.mp3/inside");
  Touch("b.mp3");

  const std::vector<Row> expected = {Parent(),
                                     {"b.mp3", At("b.mp3"), false},
                                     {"gone.mp3", At("gone.mp3"), false},
                                     {"through_file.wav", At("through_file.wav"), false}};
  EXPECT_EQ(RowsOf(ScanDirectory(Dir())), expected);
}

TEST_F(DirectoryListingTest, LinkLoopNeitherEndsTheScanNorHidesTheOrder) {
  for (const char* file : {"z.mp3", "m.wav", "a.flac"}) {
    Touch(file);
  }
  MakeFolder("y");
  MakeFolder("b");
  Link("loop.mp3", "loop.mp3");
  Link("ping", "pong");
  Link("pong", "ping");

  const std::vector<Row> expected = {
      Parent(),
      {"[Folder] b", At("b"), true},
      {"[Folder] y", At("y"), true},
      {"a.flac", At("a.flac"), false},
      {"loop.mp3", At("loop.mp3"), false},
      {"m.wav", At("m.wav"), false},
      {"z.mp3", At("z.mp3"), false},
  };
  EXPECT_EQ(RowsOf(ScanDirectory(Dir())), expected);
}

TEST_F(DirectoryListingTest, LinkIntoAForbiddenFolderIsAFileAndTheRestStays) {
  MakeFolder("vault");
  MakeFolder("open");
  Touch("vault/secret");
  Touch("c.mp3");
  Touch("a.mp3");
  Link("locked.flac", "vault/secret");
  fs::permissions(At("vault"), fs::perms::none);
  OpenTreeToOthers();

  const browser_test::UnprivilegedScan scan =
      browser_test::ScanWithoutPrivileges(Dir(), At("vault"));
  REQUIRE_PREREQUISITE(scan.skip_reason);
  const std::vector<Row> expected = {
      Parent(),
      {"[Folder] open", At("open"), true},
      {"[Folder] vault", At("vault"), true},
      {"a.mp3", At("a.mp3"), false},
      {"c.mp3", At("c.mp3"), false},
      {"locked.flac", At("locked.flac"), false},
  };
  EXPECT_EQ(RowsOf(scan.rows), expected);
}

TEST_F(DirectoryListingTest, UnreadableFolderGivesParentRowAlone) {
  MakeFolder("closed");
  Touch("closed/a.mp3");
  MakeFolder("closed/sub");
  fs::permissions(At("closed"), fs::perms::none);
  OpenTreeToOthers();

  const browser_test::UnprivilegedScan scan =
      browser_test::ScanWithoutPrivileges(At("closed"), At("closed"));
  REQUIRE_PREREQUISITE(scan.skip_reason);
  EXPECT_EQ(RowsOf(scan.rows), (std::vector<Row>{{".. (parent)", Dir(), true}}));
}

TEST_F(DirectoryListingTest, MissingOrNonFolderPathGivesParentRowAlone) {
  EXPECT_EQ(RowsOf(ScanDirectory(At("missing"))), (std::vector<Row>{{".. (parent)", Dir(), true}}));
  Touch("file.mp3");
  EXPECT_EQ(RowsOf(ScanDirectory(At("file.mp3"))),
            (std::vector<Row>{{".. (parent)", Dir(), true}}));
}

TEST_F(DirectoryListingTest, ParentOfATopLevelFolderIsTheRoot) {
  const std::vector<FileEntry> rows = ScanDirectory("/nonexistent-brevalo-folder");
  EXPECT_EQ(RowsOf(rows), (std::vector<Row>{{".. (parent)", "/", true}}));
}

TEST_F(DirectoryListingTest, RootHasNoParentRowAndJoinsPathsWithoutDoubleSlash) {
  const std::vector<FileEntry> rows = ScanDirectory("/");
  ASSERT_FALSE(rows.empty());
  EXPECT_NE(rows.front().label, ".. (parent)");
  bool found_tmp = false;
  for (const FileEntry& row : rows) {
    EXPECT_NE(row.label, ".. (parent)");
    if (row.label == "[Folder] tmp") {
      found_tmp = true;
      EXPECT_EQ(row.path, "/tmp");
      EXPECT_TRUE(row.is_directory);
    }
  }
  EXPECT_TRUE(found_tmp);
}

TEST(VisibleRowCountTest, FollowsTheScreenHeight) {
  const int saved = g_screen_height;
  const std::vector<std::pair<int, int>> height_to_rows = {
      {0, 20}, {-5, 20}, {1, 1}, {9, 1}, {10, 1}, {11, 2}, {24, 15}, {30, 21}, {40, 31}};
  for (const auto& [height, rows] : height_to_rows) {
    g_screen_height = height;
    EXPECT_EQ(VisibleRowCount(), rows) << "height " << height;
  }
  g_screen_height = saved;
}

TEST(ClampScrollTest, KeepsTheLastPageFullAndNeverGoesNegative) {
  EXPECT_EQ(ClampScroll(7, 5, 20), 0);
  EXPECT_EQ(ClampScroll(-3, 50, 10), 0);
  EXPECT_EQ(ClampScroll(45, 50, 10), 40);
  EXPECT_EQ(ClampScroll(40, 50, 10), 40);
  EXPECT_EQ(ClampScroll(12, 50, 10), 12);
  EXPECT_EQ(ClampScroll(3, 0, 20), 0);
}

}  // namespace
