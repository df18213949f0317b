// The built program in tmux, on folders that try to break it: names that carry terminal escape
// sequences or invalid UTF-8, wide and very long names, tens of thousands of files, link loops,
// unreadable folders, FIFOs and sockets, files that vanish. Every byte the program writes to the
// terminal is checked, not only what the screen ends up showing.

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "tests/support/media.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace fs = std::filesystem;
using test_support::PollUntil;
using test_support::TmuxSession;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// CSI as one byte, which 8-bit terminals obey and which is no UTF-8; CSI as a C1 control in
// UTF-8 (U+009B); DEL.
constexpr char kRawCsi[] = "\x9b";
constexpr char kC1Csi[] = "\xc2\x9b";
constexpr char kDel[] = "\x7f";
constexpr std::chrono::seconds kPatience{15};

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

// Bytes as C escapes, for failure messages about raw control bytes.
std::string Escaped(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

bool WaitForHighlight(TmuxSession& session, const std::string& text) {
  return PollUntil(
      [&] { return test_support::HighlightedRow(session).find(text) != std::string::npos; },
      kPatience);
}

// The screen line of the first listing row that shows `text`, or -1. The rows start below the
// folder header; the lines above may quote names too (the now-playing path).
int ListingLineOf(const std::vector<std::string>& lines, const std::string& text) {
  bool in_listing = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (in_listing && !text.empty() && lines[i].find(text) != std::string::npos) {
      return static_cast<int>(i);
    }
    in_listing = in_listing || lines[i].find("FILE BROWSER (") != std::string::npos;
  }
  return -1;
}

// Moves the highlight with the arrow keys onto the visible row that shows `text`.
// The program may still be starting, or redrawing after a key: the listing is waited for, not
// sampled once.
bool Highlight(TmuxSession& session, const std::string& text) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int target = -1;
    int current = -1;
    const bool shown = PollUntil(
        [&] {
          const std::vector<std::string> lines = session.Screen();
          target = ListingLineOf(lines, text);
          current = ListingLineOf(lines, test_support::HighlightedRow(session));
          return target >= 0 && current >= 0;
        },
        kPatience);
    if (!shown) {
      return false;
    }
    const int steps = target - current;
    session.SendKeys(std::vector<std::string>(std::abs(steps), steps > 0 ? "Down" : "Up"));
    if (WaitForHighlight(session, text)) {
      return true;
    }
  }
  return false;
}

// Each non-ASCII character the terminal received is well-formed UTF-8 and no C1 control: a
// stray 0x9B is CSI to a terminal in 8-bit mode.
void ExpectCleanUtf8(const std::string& output) {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  ASSERT_NE(utf8, static_cast<locale_t>(nullptr)) << "no C.UTF-8 locale";
  const locale_t previous = uselocale(utf8);
  std::mbstate_t state{};
  for (size_t i = 0; i < output.size();) {
    wchar_t wide = 0;
    const size_t length = std::mbrtowc(&wide, output.data() + i, output.size() - i, &state);
    if (length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2)) {
      ADD_FAILURE() << "malformed UTF-8 at byte " << i << ": "
                    << Escaped(output.substr(i > 20 ? i - 20 : 0, 40));
      break;
    }
    if (wide >= 0x80 && wide <= 0x9F) {
      ADD_FAILURE() << "C1 control at byte " << i << ": "
                    << Escaped(output.substr(i > 20 ? i - 20 : 0, 40));
    }
    i += length == 0 ? 1 : length;
  }
  uselocale(previous);
  freelocale(utf8);
}

void ExpectNoneOf(const std::string& output, const std::vector<std::string>& payloads) {
  for (const std::string& payload : payloads) {
    EXPECT_EQ(output.find(payload), std::string::npos)
        << "the terminal received " << Escaped(payload);
  }
}

// Columns a line takes on the terminal, counted as the program counts them.
int DisplayWidth(const std::string& line) {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  const locale_t previous = uselocale(utf8);
  std::mbstate_t state{};
  int width = 0;
  for (size_t i = 0; i < line.size();) {
    wchar_t wide = 0;
    const size_t length = std::mbrtowc(&wide, line.data() + i, line.size() - i, &state);
    if (length == 0 || length > line.size()) {
      break;
    }
    width += std::max(wcwidth(wide), 0);
    i += length;
  }
  uselocale(previous);
  freelocale(utf8);
  return width;
}

bool EndsInBorder(const std::string& line) {
  return line.ends_with("\u2502") || line.ends_with("\u256e") || line.ends_with("\u256f") ||
         line.ends_with("\u2524");
}

bool RightBorderInPlace(const std::vector<std::string>& screen, int width) {
  return !screen.empty() && std::all_of(screen.begin(), screen.end(), [width](const auto& line) {
    return DisplayWidth(line) == width && EndsInBorder(line);
  });
}

// Every row of the frame is exactly `width` columns and ends in the right border.
void ExpectRightBorderInPlace(const std::vector<std::string>& screen, int width) {
  ASSERT_FALSE(screen.empty());
  for (const std::string& line : screen) {
    EXPECT_EQ(DisplayWidth(line), width) << line;
    EXPECT_TRUE(EndsInBorder(line)) << line;
  }
}

// The screen once its frame has every row in place, or as it is after kPatience: a frame that
// is still being drawn shows the rows of the one before.
std::vector<std::string> WholeFrame(TmuxSession& session, int width) {
  std::vector<std::string> lines;
  PollUntil(
      [&] {
        lines = session.Screen();
        return RightBorderInPlace(lines, width);
      },
      kPatience);
  return lines;
}

class HostileFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    SKIP_WITHOUT_TMUX();
    test_support::MediaRecipe recipe;
    recipe.format = test_support::MediaFormat::kMp3Cbr;
    recipe.seconds = 20.0;  // Long enough that no track ends and advances during a test.
    song_ = test_support::MakeMedia(recipe);
    ASSERT_FALSE(song_.empty());
  }

  void AddSong(const fs::path& folder, const std::string& name) const {
    fs::copy_file(song_, folder / name);
  }

  TmuxSession Start(const fs::path& folder, int width, int height) const {
    return TmuxSession(test_support::ProgramPath() + " " + ShellQuote(folder.string()),
                       {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", dir_ / "played.raw"}},
                       width, height);
  }

  // Quits with Escape and returns every byte written to the terminal, the lines written after
  // the terminal was restored included.
  static std::string QuitAndCollect(TmuxSession& session) {
    session.SendKeys({"Escape"});
    EXPECT_EQ(session.WaitForExit(), 0);
    EXPECT_TRUE(session.WaitFor("EXIT=0"));
    return session.OutputBytes();
  }

  test_support::TempDir dir_;
  std::string song_;
};

// What reached the terminal after the program gave it back: the held failure lines.
std::string AfterRestore(const std::string& output) {
  const size_t restored = output.rfind("\x1b[?1049l");
  return restored == std::string::npos ? "" : output.substr(restored);
}

TEST_F(HostileFoldersTest, ControlBytesInNamesNeverReachTheTerminal) {
  const std::string folder_name = std::string("dir\x1b]0;FOLDER\x07") + kRawCsi + kC1Csi;
  const fs::path folder = dir_.path() / folder_name;
  fs::create_directory(folder);
  const std::vector<std::string> names = {"osc\x1b]0;PWNED\x07.mp3",
                                          "clear\x1b[2Jzap.mp3",
                                          std::string("csi8") + kRawCsi + "31mred.mp3",
                                          std::string("csi1") + kC1Csi + "32mgreen.mp3",
                                          std::string("del") + kDel + "ete.mp3",
                                          "new\nline.mp3",
                                          "tab\there.mp3",
                                          "cr\rreturn.mp3",
                                          "bad\xff\xfeutf.mp3"};
  for (const std::string& name : names) {
    AddSong(folder, name);
  }
  const std::string shown_folder = dir_.path().string() + "/dir\uFFFD]0;FOLDER\uFFFD\uFFFD\uFFFD";

  TmuxSession session = Start(folder, 120, 24);
  ASSERT_TRUE(session.WaitFor("FILE BROWSER (" + shown_folder + ")"));
  const std::vector<std::string> shown_names = {
      "osc\uFFFD]0;PWNED\uFFFD.mp3", "clear\uFFFD[2Jzap.mp3", "csi8\uFFFD31mred.mp3",
      "csi1\uFFFD32mgreen.mp3",      "del\uFFFDete.mp3",      "new\uFFFDline.mp3",
      "tab\uFFFDhere.mp3",           "cr\uFFFDreturn.mp3",    "bad\uFFFD\uFFFDutf.mp3"};
  const std::string screen = test_support::ScreenHoldingAll(session, shown_names, kPatience);
  for (const std::string& shown : shown_names) {
    EXPECT_THAT(screen, HasSubstr(shown));
  }

  // Without a title tag the now-playing line shows the path, folder and all.
  ASSERT_TRUE(Highlight(session, "osc"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("Now playing: " + shown_folder + "/osc\uFFFD]0;PWNED\uFFFD.mp3"));

  // Gone after the listing was drawn: the failure lines quote the hostile path.
  fs::remove(folder / names[2]);
  fs::remove(folder / names[8]);
  ASSERT_TRUE(Highlight(session, "csi8"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("Choose audio file"));
  ASSERT_TRUE(Highlight(session, "bad"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(Highlight(session, "new"));

  const std::string output = QuitAndCollect(session);
  const std::string safe_folder = dir_.path().string() + "/dir?]0;FOLDER???";
  EXPECT_THAT(AfterRestore(output),
              HasSubstr("Failed to load: " + safe_folder + "/csi8?31mred.mp3"));
  EXPECT_THAT(AfterRestore(output), HasSubstr("Failed to load: " + safe_folder + "/bad??utf.mp3"));
  ExpectNoneOf(output, {"\x1b]0;", "\x07", "\x1b[2Jzap", std::string(kRawCsi) + "31m", kC1Csi, kDel,
                        "new\nline", "tab\there", "cr\rreturn", "\xff\xfe"});
  ExpectCleanUtf8(output);
}

TEST_F(HostileFoldersTest, ControlBytesInTagsNeverReachTheTerminal) {
  test_support::MediaRecipe recipe;
  recipe.format = test_support::MediaFormat::kMp3Cbr;
  recipe.seconds = 20.0;
  recipe.tags = {"T\x1b]0;PWNED\x07X", "A\x1b[2JB", std::string("al") + kC1Csi + "bum", "2004",
                 "ge\nn\tr\re"};
  const std::string tagged = test_support::MakeMedia(recipe);
  ASSERT_FALSE(tagged.empty());
  fs::copy_file(tagged, dir_.path() / "tagged.mp3");

  TmuxSession session = Start(dir_.path(), 100, 30);
  ASSERT_TRUE(Highlight(session, "tagged.mp3"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(
      session.WaitFor("Now playing: T\uFFFD]0;PWNED\uFFFDX | A\uFFFD[2JB (2004) "
                      "/ge\uFFFDn\uFFFDr\uFFFDe/"));
  session.SendKeys({"Tab"});
  ASSERT_TRUE(session.WaitFor("Track Metadata"));
  const std::vector<std::string> tags = {"Title:  T\uFFFD]0;PWNED\uFFFDX", "Artist: A\uFFFD[2JB",
                                         "Album:  al\uFFFDbum", "Genre:  ge\uFFFDn\uFFFDr\uFFFDe"};
  const std::string screen = test_support::ScreenHoldingAll(session, tags, kPatience);
  for (const std::string& tag : tags) {
    EXPECT_THAT(screen, HasSubstr(tag));
  }
  session.SendKeys({"Escape"});
  ASSERT_TRUE(session.WaitUntilGone("Track Metadata"));

  const std::string output = QuitAndCollect(session);
  ExpectNoneOf(output, {"\x1b]0;", "\x07", "\x1b[2JB", kC1Csi, "ge\nn", "n\tr", "r\re"});
  ExpectCleanUtf8(output);
}

TEST_F(HostileFoldersTest, WideAndLongNamesKeepTheRightBorderInItsColumn) {
  const std::string long_ascii = std::string(251, 'L') + ".mp3";
  std::string long_cjk;
  while (long_cjk.size() + 3 <= 251) {
    long_cjk += "\u97f3";  // Three bytes, two columns.
  }
  long_cjk += std::string(251 - long_cjk.size(), 'c') + ".mp3";
  ASSERT_EQ(long_ascii.size(), 255u);
  ASSERT_EQ(long_cjk.size(), 255u);
  for (const std::string& name :
       {long_ascii, long_cjk, std::string("b CJK \u97f3\u697d.mp3"),
        std::string("c emoji \U0001f3b5.mp3"), std::string("d combining e\u0301.mp3"),
        std::string("e fullwidth \uff21\uff22.mp3"), std::string("f plain.mp3")}) {
    AddSong(dir_.path(), name);
  }

  for (const int width : {80, 41}) {
    TmuxSession session = Start(dir_.path(), width, 24);
    ASSERT_TRUE(session.WaitFor("f plain.mp3"));
    const std::vector<std::string> lines = WholeFrame(session, width);
    ExpectRightBorderInPlace(lines, width);
    // Cut at the edge, never wrapped: the next name starts its own row.
    const int long_ascii_row = ListingLineOf(lines, "LLLL");
    const int plain_row = ListingLineOf(lines, "f plain.mp3");
    ASSERT_GE(long_ascii_row, 0);
    ASSERT_GE(plain_row, 0);
    EXPECT_THAT(lines[static_cast<size_t>(long_ascii_row) + 1], HasSubstr("\u2502b CJK"));
    EXPECT_THAT(lines[static_cast<size_t>(plain_row) + 1], HasSubstr("\u2502\u97f3\u97f3"));

    // Highlighted and playing, with the marker pushed off the edge.
    ASSERT_TRUE(Highlight(session, "\u97f3\u97f3"));
    session.SendKeys({"Enter"});
    ASSERT_TRUE(session.WaitFor("Now playing:"));
    ASSERT_TRUE(Highlight(session, "emoji"));
    session.SendKeys({"Enter"});
    ASSERT_TRUE(session.WaitFor("\U0001f3b5.mp3 \u266a\u266a\u266a"));
    ExpectRightBorderInPlace(WholeFrame(session, width), width);
    ExpectCleanUtf8(QuitAndCollect(session));
  }
}

TEST_F(HostileFoldersTest, TwentyThousandFilesBrowseFromEndToEnd) {
  constexpr int kFiles = 20000;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "track%05d.mp3", i);
    std::ofstream(dir_.path() / name);
  }
  AddSong(dir_.path(), "zz playable.mp3");

  TmuxSession session = Start(dir_.path(), 80, 24);
  ASSERT_TRUE(session.WaitFor("track00000.mp3", std::chrono::seconds(30)));
  session.SendKeys({"End"});
  ASSERT_TRUE(WaitForHighlight(session, "zz playable.mp3"));
  EXPECT_TRUE(session.WaitFor("track19999.mp3", kPatience)) << session.ScreenText();
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("zz playable.mp3 \u266a\u266a\u266a"));
  session.SendKeys({"Home"});
  ASSERT_TRUE(WaitForHighlight(session, ".. (parent)"));
  // 24 rows leave 15 to the listing: a page down lands on row 15, the file at index 14.
  session.SendKeys({"NPage"});
  ASSERT_TRUE(WaitForHighlight(session, "track00014.mp3"));
  session.SendKeys({"NPage", "NPage"});
  ASSERT_TRUE(WaitForHighlight(session, "track00044.mp3"));
  // The clock still moves: the frames go on while the listing is long.
  ASSERT_TRUE(session.WaitFor("00:02", kPatience));
  QuitAndCollect(session);
}

TEST_F(HostileFoldersTest, SymbolicLinkLoopIsAFileThatFailsCleanly) {
  fs::create_directory(dir_.path() / "sub");
  AddSong(dir_.path(), "a first.mp3");
  AddSong(dir_.path(), "z last.mp3");
  fs::create_symlink("loop.mp3", dir_.path() / "loop.mp3");
  fs::create_symlink("ping.flac", dir_.path() / "pong.flac");
  fs::create_symlink("pong.flac", dir_.path() / "ping.flac");

  TmuxSession session = Start(dir_.path(), 80, 24);
  ASSERT_TRUE(session.WaitFor("z last.mp3"));
  const std::vector<std::string> order = {".. (parent)", "[Folder] sub", "a first.mp3", "loop.mp3",
                                          "ping.flac",   "pong.flac",    "z last.mp3"};
  // The rows in that order, waited for: the frame may still be reaching the pane.
  std::vector<std::string> lines;
  PollUntil(
      [&] {
        lines = session.Screen();
        const int first = ListingLineOf(lines, order[0]);
        for (size_t i = 0; i < order.size(); ++i) {
          if (first < 0 || static_cast<size_t>(first) + i >= lines.size() ||
              lines[static_cast<size_t>(first) + i].find("\u2502" + order[i] + " ") ==
                  std::string::npos) {
            return false;
          }
        }
        return true;
      },
      kPatience);
  const int first = ListingLineOf(lines, order[0]);
  ASSERT_GE(first, 0);
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_THAT(lines[static_cast<size_t>(first) + i], HasSubstr("\u2502" + order[i] + " "));
  }

  ASSERT_TRUE(Highlight(session, "a first.mp3"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("Now playing:"));
  ASSERT_TRUE(Highlight(session, "loop.mp3"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("Choose audio file"));
  session.SendKeys({"Tab"});
  ASSERT_TRUE(Highlight(session, "z last.mp3"));
  EXPECT_THAT(session.ScreenText(), Not(HasSubstr("Track Metadata")));

  const std::string output = QuitAndCollect(session);
  EXPECT_THAT(AfterRestore(output),
              HasSubstr("Failed to open file: Too many levels of symbolic links"));
  EXPECT_THAT(AfterRestore(output),
              HasSubstr("Failed to load: " + (dir_.path() / "loop.mp3").string()));
}

TEST_F(HostileFoldersTest, UnreadableFolderShowsOnlyTheParentRowAndLeadsBackUp) {
  const fs::path locked = dir_.path() / "locked";
  fs::create_directory(locked);
  AddSong(locked, "hidden away.mp3");
  AddSong(dir_.path(), "outside.mp3");
  std::string prefix;
  if (geteuid() == 0) {
    // Root reads any folder: the program runs as nobody, who may enter the test folder only.
    if (test_support::RunProgram({"setpriv", "--version"}) != 0) {
      MISSING_PREREQUISITE(
          "setpriv (package util-linux) is needed to run the program without root's rights");
    }
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    fs::permissions(locked, fs::perms::owner_all);
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  } else {
    fs::permissions(locked, fs::perms::none);
  }

  TmuxSession session(prefix + test_support::ProgramPath() + " " + ShellQuote(dir_.path()),
                      {{"SDL_AUDIODRIVER", "dummy"}}, 80, 24);
  ASSERT_TRUE(session.WaitFor("outside.mp3"));
  ASSERT_TRUE(Highlight(session, "[Folder] locked"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("FILE BROWSER (" + locked.string() + ")"));
  // The rows under the new header waited for: until redrawn they show the folder left.
  const std::string empty_row = "\u2502" + std::string(78, ' ') + "\u2502";
  std::vector<std::string> lines;
  PollUntil(
      [&] {
        lines = session.Screen();
        const int parent = ListingLineOf(lines, ".. (parent)");
        return parent >= 0 && static_cast<size_t>(parent) + 1 < lines.size() &&
               lines[static_cast<size_t>(parent) + 1] == empty_row;
      },
      kPatience);
  const int parent = ListingLineOf(lines, ".. (parent)");
  ASSERT_GE(parent, 0);
  ASSERT_LT(static_cast<size_t>(parent) + 1, lines.size());
  EXPECT_EQ(lines[static_cast<size_t>(parent) + 1], empty_row);
  EXPECT_THAT(session.ScreenText(), Not(HasSubstr("hidden away")));
  ASSERT_TRUE(WaitForHighlight(session, ".. (parent)"));

  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("FILE BROWSER (" + dir_.path().string() + ")"));
  ASSERT_TRUE(session.WaitFor("outside.mp3"));
  EXPECT_TRUE(session.WaitFor("[Folder] locked", kPatience)) << session.ScreenText();
  QuitAndCollect(session);
}

TEST_F(HostileFoldersTest, FifoAndSocketFailAtOnceAndAGoodFileStillPlays) {
  AddSong(dir_.path(), "a good.mp3");
  ASSERT_EQ(mkfifo((dir_.path() / "fifo.mp3").c_str(), 0644), 0);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (dir_.path() / "socket.flac").string();
  ASSERT_LT(socket_path.size(), sizeof(address.sun_path));
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

  TmuxSession session = Start(dir_.path(), 80, 24);
  ASSERT_TRUE(session.WaitFor("socket.flac"));
  ASSERT_TRUE(Highlight(session, "a good.mp3"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("Now playing:"));

  for (const char* name : {"fifo.mp3", "socket.flac"}) {
    ASSERT_TRUE(Highlight(session, name));
    session.SendKeys({"Enter"});
    ASSERT_TRUE(session.WaitFor("Choose audio file")) << name;
    // Tab opens nothing: the Down after it moves the highlight rather than being swallowed.
    session.SendKeys({"Tab"});
    ASSERT_TRUE(Highlight(session, "a good.mp3")) << name;
    EXPECT_THAT(session.ScreenText(), Not(HasSubstr("Track Metadata")));
    EXPECT_THAT(session.ScreenText(), HasSubstr("Choose audio file"));
  }

  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("a good.mp3 \u266a\u266a\u266a"));
  ASSERT_TRUE(session.WaitFor("00:01", kPatience));
  const std::string output = QuitAndCollect(session);
  close(listener);
  EXPECT_THAT(AfterRestore(output), HasSubstr("Failed to open file: Illegal seek"));
  EXPECT_THAT(AfterRestore(output),
              HasSubstr("Failed to load: " + (dir_.path() / "fifo.mp3").string()));
  EXPECT_THAT(AfterRestore(output), HasSubstr("Failed to open file: No such device or address"));
  EXPECT_THAT(AfterRestore(output), HasSubstr("Failed to load: " + socket_path));
}

TEST_F(HostileFoldersTest, AFileDeletedAfterTheListingFailsCleanly) {
  AddSong(dir_.path(), "a playing.mp3");
  AddSong(dir_.path(), "b doomed.mp3");
  TmuxSession session = Start(dir_.path(), 80, 24);
  ASSERT_TRUE(Highlight(session, "a playing.mp3"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("Now playing:"));

  fs::remove(dir_.path() / "b doomed.mp3");
  ASSERT_TRUE(Highlight(session, "b doomed.mp3"));
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitFor("Choose audio file"));
  EXPECT_TRUE(session.WaitFor("--:--", kPatience)) << session.ScreenText();
  // Still answering keys.
  ASSERT_TRUE(Highlight(session, "a playing.mp3"));

  const std::string output = QuitAndCollect(session);
  EXPECT_THAT(AfterRestore(output), HasSubstr("Failed to open file: No such file or directory"));
  EXPECT_THAT(AfterRestore(output),
              HasSubstr("Failed to load: " + (dir_.path() / "b doomed.mp3").string()));
}

}  // namespace
