#pragma once

#include <string>

#include "browser/file_browser_state.h"
#include "browser/screen_size.h"

namespace browser_test {

// A browser state over `count` made-up file rows labelled "Row 000", "Row 001", ...
FileBrowserState StateWithRows(int count);

// The label StateWithRows gives row `index`.
std::string RowLabel(int index);

// Sets the terminal height for one test and puts the old one back afterwards.
class ScreenHeight {
 public:
  explicit ScreenHeight(int height) : saved_(g_screen_height) { g_screen_height = height; }
  ~ScreenHeight() { g_screen_height = saved_; }
  ScreenHeight(const ScreenHeight&) = delete;
  ScreenHeight& operator=(const ScreenHeight&) = delete;

 private:
  int saved_;
};

}  // namespace browser_test
