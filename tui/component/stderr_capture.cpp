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

// The held lines go to a terminal, and they may quote file names: a control byte among them
// (C0 but the newline, DEL, or a C1 control's UTF-8 form C2 80..9F) would steer the terminal,
// so it is written as '?'. `pending_lead` carries a C2 byte from one chunk to the next.
// Async-signal-safe.
size_t MakeTerminalSafe(const char* in, size_t size, char* out, bool* pending_lead) {
  size_t length = 0;
  for (size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(in[i]);
    if (*pending_lead) {
      *pending_lead = false;
      if (byte >= 0x80 && byte <= 0x9F) {
        out[length++] = '?';
        continue;
      }
      out[length++] = static_cast<char>(0xC2);
    }
    if (byte == 0xC2) {
      *pending_lead = true;
    } else if ((byte < 0x20 && byte != '\n') || byte == 0x7F) {
      out[length++] = '?';
    } else {
      out[length++] = static_cast<char>(byte);
    }
  }
  return length;
}

// Copies the held bytes to `fd`, terminal-safe; async-signal-safe.
void CopyHeld(int held, int fd) {
  char buffer[4096];
  char safe[sizeof(buffer) + 1];
  bool pending_lead = false;
  off_t offset = 0;
  for (;;) {
    const ssize_t got = pread(held, buffer, sizeof(buffer), offset);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    offset += got;
    const size_t length = MakeTerminalSafe(buffer, static_cast<size_t>(got), safe, &pending_lead);
    if (!WriteAll(fd, safe, length)) {
      return;
    }
  }
  if (pending_lead) {
    WriteAll(fd, "\xC2", 1);
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
