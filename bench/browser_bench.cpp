// Figures for the browser: scanning a folder of 10,000 files and drawing one frame of the
// listing. Not a test: it prints what it measured.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include <stdlib.h>

#include "browser/browser_view.h"
#include "browser/directory_listing.h"
#include "browser/screen_size.h"
#include "tui/dom/node.h"
#include "tui/screen/screen.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFileCount = 10000;
constexpr int kFolderCount = 50;
constexpr int kScanRuns = 7;
constexpr int kFrameRuns = 2000;

// A scratch folder full of empty audio files, removed at the end.
class FolderOfFiles {
 public:
  FolderOfFiles() {
    std::string pattern = (fs::temp_directory_path() / "brevalo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
    const char* extensions[] = {".mp3", ".flac", ".wav", ".m4a"};
    char name[64];
    for (int i = 0; i < kFileCount; ++i) {
      std::snprintf(name, sizeof name, "Track %05d - Artist%s", (i * 7919) % kFileCount,
                    extensions[i % 4]);
      std::ofstream(path_ / name).put('x');
    }
    for (int i = 0; i < kFolderCount; ++i) {
      std::snprintf(name, sizeof name, "Album %02d", i);
      fs::create_directory(path_ / name);
    }
  }
  ~FolderOfFiles() {
    std::error_code error;
    fs::remove_all(path_, error);
  }
  FolderOfFiles(const FolderOfFiles&) = delete;
  FolderOfFiles& operator=(const FolderOfFiles&) = delete;

  std::string path() const { return path_.string(); }

 private:
  fs::path path_;
};

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median and best of `runs` timings of `work`, in milliseconds.
void Measure(const char* what, int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    const Clock::time_point start = Clock::now();
    work();
    times.push_back(MillisecondsSince(start));
  }
  std::sort(times.begin(), times.end());
  std::printf("%-44s median %9.4f ms   best %9.4f ms   (%d runs)\n", what, times[times.size() / 2],
              times.front(), runs);
}

// One frame of the listing as the main screen draws it: the view, then the layout and drawing.
void DrawFrame(FileBrowserState& state, tui::Screen& screen) {
  screen.Clear();
  tui::Render(screen, RenderFileBrowser{&state}());
}

void MeasureFrames(FileBrowserState& state, int width, int height) {
  g_screen_height = height;
  tui::Screen screen(width, height - 9);
  state.selected = static_cast<int>(state.entries.size()) / 2;
  state.playing_index = state.selected + 1;
  char what[64];
  std::snprintf(what, sizeof what, "frame at %dx%d (%d listing rows)", width, height,
                VisibleRowCount());
  Measure(what, kFrameRuns, [&] { DrawFrame(state, screen); });
  // Moving the selection each frame makes the view scroll every time.
  std::snprintf(what, sizeof what, "frame at %dx%d, scrolling every frame", width, height);
  Measure(what, kFrameRuns, [&] {
    state.selected = (state.selected + 37) % static_cast<int>(state.entries.size());
    DrawFrame(state, screen);
  });
}

}  // namespace

int main() {
  const FolderOfFiles folder;
  std::printf("folder: %d supported files and %d sub-folders\n", kFileCount, kFolderCount);

  FileBrowserState state;
  state.current_dir = folder.path();

  g_screen_height = 24;
  const Clock::time_point first_frame_start = Clock::now();
  state.entries = ScanDirectory(state.current_dir);
  tui::Screen first(80, 24 - 9);
  DrawFrame(state, first);
  std::printf("%-44s %9.4f ms   (%zu rows)\n", "scan + first frame at 80x24, cold",
              MillisecondsSince(first_frame_start), state.entries.size());

  Measure("ScanDirectory", kScanRuns, [&] { state.entries = ScanDirectory(state.current_dir); });
  MeasureFrames(state, 80, 24);
  MeasureFrames(state, 200, 60);
  return 0;
}
