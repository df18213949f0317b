#include "tests/browser/browser_rows.h"

#include <cstdio>

namespace browser_test {

std::string RowLabel(int index) {
  char label[16];
  std::snprintf(label, sizeof label, "Row %03d", index);
  return label;
}

FileBrowserState StateWithRows(int count) {
  FileBrowserState state;
  state.current_dir = "/music";
  for (int index = 0; index < count; ++index) {
    state.entries.push_back({RowLabel(index), "/music/" + RowLabel(index) + ".mp3", false});
  }
  return state;
}

}  // namespace browser_test
