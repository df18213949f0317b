#include "tui/screen/terminal.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include <curses.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include "text/terminal_safe.h"
#include "tui/screen/write_all.h"

namespace tui {
namespace {

constexpr char kMouseOn[] = "\x1b[?1000h\x1b[?1006h";
constexpr char kMouseOff[] = "\x1b[?1006l\x1b[?1000l";

// What RestoreTerminalFromSignal needs, prepared beforehand because a signal handler may
// neither allocate nor ask terminfo. Written on the thread that owns the Terminal while no
// restore can run; g_terminal_held is the switch that publishes it.
volatile sig_atomic_t g_terminal_held = 0;
struct termios g_saved_modes;
char g_reset_sequence[512];
size_t g_reset_length = 0;

void AppendBytes(const char* bytes, size_t length) {
  if (g_reset_length + length < sizeof(g_reset_sequence)) {
    std::memcpy(g_reset_sequence + g_reset_length, bytes, length);
    g_reset_length += length;
  }
}

bool HasCapability(const char* capability) {
  const char* value = tigetstr(capability);
  return value != nullptr && value != reinterpret_cast<char*>(-1);
}

std::string* g_expansion = nullptr;  // Where ExpandCapability's tputs output goes.

int AppendToExpansion(int byte) {
  *g_expansion += static_cast<char>(byte);
  return byte;
}

// The bytes of a capability of the current terminal, its padding marks ("$<50>") interpreted
// by tputs rather than sent as text; empty when the terminal lacks it.
std::string ExpandCapability(const char* capability) {
  std::string bytes;
  if (HasCapability(capability)) {
    g_expansion = &bytes;
    tputs(tigetstr(capability), 1, AppendToExpansion);
    g_expansion = nullptr;
  }
  return bytes;
}

// What leaves the last frame behind when the terminal is given back: nothing where leaving the
// alternate screen brings back what was there before; elsewhere (the Linux console, a vt100)
// clearing the screen, or the shell's prompt would land inside the old frame.
std::string FrameEraser() {
  return HasCapability("rmcup") ? std::string() : ExpandCapability("clear");
}

// The bytes that undo what holding the terminal did, from the terminal's own description.
void PrepareResetSequence() {
  g_reset_length = 0;
  AppendBytes(kMouseOff, sizeof(kMouseOff) - 1);
  for (const char* capability : {"sgr0", "cnorm", "rmcup"}) {
    const std::string bytes = ExpandCapability(capability);
    AppendBytes(bytes.data(), bytes.size());
  }
  const std::string eraser = FrameEraser();
  AppendBytes(eraser.data(), eraser.size());
}

// The terminal type as a failure line may show it: TERM's value, quoted, with nothing in it
// that could steer the terminal or break the line.
std::string TerminalTypeName() {
  const char* type = std::getenv("TERM");
  if (type == nullptr || *type == '\0') {
    return "(TERM is not set)";
  }
  std::string name = ::text::TerminalSafe(type);
  for (char& c : name) {
    c = c == '\n' ? '?' : c;
  }
  return "'" + name + "'";
}

// Gives the terminal's modes back and refuses the terminal with a line that names its type.
[[noreturn]] void Refuse(const std::string& what) {
  tcsetattr(STDIN_FILENO, TCSADRAIN, &g_saved_modes);
  throw std::runtime_error("cannot drive the terminal type " + TerminalTypeName() + ": " + what);
}

// ncurses takes any terminal it has a description of, but one that cannot place its cursor (a
// "dumb" or hard-copy terminal) would only scroll frames past as lines of text.
bool CanAddressCursor() {
  return tigetflag("hc") <= 0 && tigetflag("gn") <= 0 && HasCapability("cup");
}

// ncursesw sends UTF-8 only under a UTF-8 locale: the user's, or C.UTF-8 when theirs is not
// one. Number formatting stays "C", so that printf-style output does not change with the
// user's locale behind the program's back.
void UseUtf8Locale() {
  std::setlocale(LC_ALL, "");
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || std::strcmp(codeset, "UTF-8") != 0) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
  std::setlocale(LC_NUMERIC, "C");
}

bool ReadWindowSize(int& width, int& height) {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return false;
  }
  width = size.ws_col;
  height = size.ws_row;
  return true;
}

}  // namespace

Terminal::Terminal() {
  if (g_terminal_held != 0) {
    throw std::logic_error("the terminal is already held");
  }
  if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) {
    throw std::runtime_error(
        "a full-screen interface needs a terminal on standard input and output");
  }
  UseUtf8Locale();
  if (tcgetattr(STDIN_FILENO, &g_saved_modes) != 0) {
    throw std::runtime_error("cannot read the terminal's modes");
  }
  curses_ = newterm(nullptr, stdout, stdin);
  if (curses_ == nullptr) {
    Refuse("terminfo does not describe it");
  }
  set_term(curses_);
  if (!CanAddressCursor()) {
    delscreen(curses_);
    curses_ = nullptr;
    Refuse("it cannot move its cursor");
  }
  PrepareResetSequence();
  frame_eraser_ = FrameEraser();
  g_terminal_held = 1;
  EnterModes();
}

Terminal::~Terminal() {
  if (!released_) {
    LeaveModes();
  }
  g_terminal_held = 0;
  delscreen(curses_);
}

void Terminal::EnterModes() {
  cbreak();
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  leaveok(stdscr, TRUE);
  // Input is read elsewhere; ncurses must not peek at it and cut an update short.
  typeahead(-1);
  curs_set(0);
  if (has_colors()) {
    start_color();
    const bool default_colors = use_default_colors() == OK;
    painter_.Configure(COLORS, COLOR_PAIRS, default_colors);
  } else {
    painter_.Configure(0, 0, false);
  }
  clearok(curscr, TRUE);
  wnoutrefresh(stdscr);
  doupdate();
  WriteAll(STDOUT_FILENO, kMouseOn, sizeof(kMouseOn) - 1);
}

void Terminal::LeaveModes() {
  WriteAll(STDOUT_FILENO, kMouseOff, sizeof(kMouseOff) - 1);
  curs_set(1);
  endwin();
  WriteAll(STDOUT_FILENO, frame_eraser_.data(), frame_eraser_.size());
  tcsetattr(STDIN_FILENO, TCSADRAIN, &g_saved_modes);
}

void Terminal::Release() {
  if (released_) {
    return;
  }
  LeaveModes();
  released_ = true;
}

void Terminal::Retake() {
  if (released_) {
    // The shell may have changed the modes while we were away; "as found" is as found now.
    tcgetattr(STDIN_FILENO, &g_saved_modes);
    released_ = false;
  }
  reset_prog_mode();
  UpdateSize();
  EnterModes();
}

bool Terminal::UpdateSize() {
  int width = 0;
  int height = 0;
  if (!ReadWindowSize(width, height) || (width == COLS && height == LINES)) {
    return false;
  }
  resizeterm(height, width);
  clearok(curscr, TRUE);
  painter_.Invalidate();
  return true;
}

int Terminal::width() const { return COLS; }
int Terminal::height() const { return LINES; }

void Terminal::Draw(const Screen& frame) {
  if (!released_) {
    painter_.Paint(frame);
  }
}

void RestoreTerminalFromSignal() {
  if (g_terminal_held == 0) {
    return;
  }
  g_terminal_held = 0;
  WriteAll(STDOUT_FILENO, g_reset_sequence, g_reset_length);
  tcsetattr(STDIN_FILENO, TCSADRAIN, &g_saved_modes);
}

}  // namespace tui
