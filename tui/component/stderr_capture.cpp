#include "tui/component/stderr_capture.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include "tui/screen/glyph_width.h"
#include "tui/screen/utf8.h"

namespace tui {
namespace {

// The real standard error while it is held, and the file that holds what is written. Written
// on the owning thread; read by ReleaseStderrFromSignal.
volatile sig_atomic_t g_real_stderr = -1;
volatile sig_atomic_t g_held_stderr = -1;

int MakeHoldingFile() {
  const int memory_file = memfd_create("held-stderr", MFD_CLOEXEC);
  if (memory_file >= 0) {
    return memory_file;
  }
  // Without memfd, an unnamed temporary file does the same.
  return open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

bool WriteAll(int fd, const char* data, size_t size) {
  for (size_t sent = 0; sent < size;) {
    const ssize_t written = write(fd, data + sent, size - sent);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    sent += static_cast<size_t>(written);
  }
  return true;
}

// The held lines go to a terminal, and they may quote file names. A control character among
// them (C0 but the newline, DEL, C1) would steer the terminal, and so would a byte outside
// well-formed UTF-8 (a lone 0x9B is CSI to a terminal in 8-bit mode): each such character or
// bad sequence is written as one '?'. While `more_follows`, a sequence cut by the end of `in` is
// left unconsumed for the next chunk. `out` needs room for in.size() bytes. Returns the bytes
// written to `out`; `consumed` tells how much of `in` they stand for. Async-signal-safe.
size_t MakeTerminalSafe(std::string_view in, bool more_follows, char* out, size_t* consumed) {
  size_t length = 0;
  size_t index = 0;
  while (index < in.size()) {
    const Utf8Read read = ReadUtf8(in.substr(index));
    if (read.status == Utf8Read::Status::kTruncated && more_follows) {
      break;
    }
    const auto size = static_cast<size_t>(read.length);
    const bool safe = read.status == Utf8Read::Status::kValid &&
                      (read.code_point == U'\n' || !IsControl(read.code_point));
    if (safe) {
      std::memcpy(out + length, in.data() + index, size);
      length += size;
    } else {
      out[length++] = '?';
    }
    index += size;
  }
  *consumed = index;
  return length;
}

// Copies the held bytes to `fd`, terminal-safe; async-signal-safe.
void CopyHeld(int held, int fd) {
  constexpr size_t kChunk = 4096;
  // Room for a chunk after the start of a sequence carried over from the chunk before.
  char buffer[kChunk + 3];
  char safe[sizeof(buffer)];
  size_t carried = 0;
  off_t offset = 0;
  for (;;) {
    const ssize_t got = pread(held, buffer + carried, kChunk, offset);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return;
    }
    offset += got;
    const size_t available = carried + static_cast<size_t>(got);
    const bool more_follows = got > 0;
    size_t consumed = 0;
    const size_t length =
        MakeTerminalSafe(std::string_view(buffer, available), more_follows, safe, &consumed);
    if (!WriteAll(fd, safe, length) || !more_follows) {
      return;
    }
    carried = available - consumed;
    std::memmove(buffer, buffer + consumed, carried);
  }
}

// Async-signal-safe. Unpublishes first, so that a signal arriving meanwhile does not copy twice.
void PutBackAndCopy() {
  const int real = g_real_stderr;
  const int held = g_held_stderr;
  if (real < 0 || held < 0) {
    return;
  }
  g_held_stderr = -1;
  g_real_stderr = -1;
  dup2(real, STDERR_FILENO);
  close(real);
  CopyHeld(held, STDERR_FILENO);
  close(held);
}

void FlushStreams() {
  std::fflush(stderr);
  std::cerr.flush();
  std::clog.flush();
}

}  // namespace

StderrCapture::StderrCapture() { Begin(); }

StderrCapture::~StderrCapture() { End(); }

void StderrCapture::Begin() {
  if (g_held_stderr >= 0 || isatty(STDERR_FILENO) == 0) {
    return;
  }
  const int held = MakeHoldingFile();
  if (held < 0) {
    return;
  }
  const int real = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (real < 0) {
    close(held);
    return;
  }
  FlushStreams();
  dup2(held, STDERR_FILENO);
  g_real_stderr = real;
  g_held_stderr = held;
}

void StderrCapture::End() {
  FlushStreams();
  PutBackAndCopy();
}

void ReleaseStderrFromSignal() { PutBackAndCopy(); }

}  // namespace tui
