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

#include "text/terminal_safe.h"
#include "tui/screen/write_all.h"

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
    const size_t length = ::text::MakeTerminalSafe(std::string_view(buffer, available),
                                                   more_follows, safe, &consumed);
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
