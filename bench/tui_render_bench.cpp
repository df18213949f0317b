// Cost of one frame off-screen: building the element tree of a bordered column of 20 text rows
// and drawing it into an 80x24 grid, as the program does on every pass.
#include <chrono>
#include <cstdio>
#include <string>

#include "tui/dom/elements.h"
#include "tui/screen/screen.h"

namespace {

constexpr int kFrames = 20000;

tui::Element BuildFrame(int frame) {
  tui::Elements rows;
  rows.reserve(20);
  for (int row = 0; row < 20; ++row) {
    tui::Element line = tui::text("row " + std::to_string(row) + " of the listing, 中文 and ♪♪♪");
    if (row == frame % 20) {
      line |= tui::inverted;
    }
    rows.push_back(std::move(line));
  }
  return tui::vbox(std::move(rows)) | tui::border;
}

double MicrosecondsPerFrame(bool reuse_screen) {
  tui::Screen screen(80, 24);
  const auto start = std::chrono::steady_clock::now();
  for (int frame = 0; frame < kFrames; ++frame) {
    if (reuse_screen) {
      screen.Clear();
    } else {
      screen = tui::Screen(80, 24);
    }
    tui::Render(screen, BuildFrame(frame));
  }
  const std::chrono::duration<double, std::micro> elapsed =
      std::chrono::steady_clock::now() - start;
  return elapsed.count() / kFrames;
}

}  // namespace

int main() {
  // One round first, so that the figures do not include the first-use costs.
  MicrosecondsPerFrame(true);
  std::printf("80x24 frame, bordered vbox of 20 text rows (build + Render), %d frames:\n", kFrames);
  std::printf("  reused grid (as the loop does): %.2f us per frame\n", MicrosecondsPerFrame(true));
  std::printf("  fresh grid each frame:          %.2f us per frame\n", MicrosecondsPerFrame(false));
  return 0;
}
