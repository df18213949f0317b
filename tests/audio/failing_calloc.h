#pragma once

#include <cstddef>

namespace engine_test {

// Makes the next calloc of exactly `bytes` bytes made by the engine fail, as when memory runs
// out. Works in test programs linked with -Wl,--wrap=calloc, which routes the engine's calloc
// calls through this file; every other call goes to the real calloc.
void FailNextCalloc(std::size_t bytes);

}  // namespace engine_test
