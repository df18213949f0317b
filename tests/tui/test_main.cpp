#include <clocale>

#include <gtest/gtest.h>

// Widths come from wcwidth, which needs a UTF-8 locale; C.UTF-8 exists wherever these run.
int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
