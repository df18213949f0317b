#include "tui/component/stderr_capture.h"

#include <cerrno>
#include <cstdio>
#include <iostream>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

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

// Copies the held bytes to `fd`; async-signal-safe.
void CopyHeld(int held, int fd) {
  char buffer[4096];
  off_t offset = 0;
  for (;;) {
    const ssize_t got = pread(held, buffer, sizeof(buffer), offset);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return;
    }
    offset += got;
    for (ssize_t sent = 0; sent < got;) {
      const ssize_t written = write(fd, buffer + sent, static_cast<size_t>(got - sent));
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written <= 0) {
        return;
      }
      sent += written;
    }
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
