#pragma once

namespace tui {

// While the interface holds the terminal, a line written to standard error would scribble over
// it and stay there. So while this lives, and only when standard error is a terminal,
// everything written to file descriptor 2 (by stdio, iostreams, perror or write) is held in an
// in-memory file, and written to the real standard error, in order, when it ends. A memory
// file rather than a pipe: a pipe could fill and block the writer.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Starts holding, if standard error is a terminal and nothing is held yet.
  void Begin();
  // Puts the real standard error back and writes what was held to it.
  void End();
};

// As StderrCapture::End, using only async-signal-safe calls: for a crash or a fatal signal.
void ReleaseStderrFromSignal();

}  // namespace tui
