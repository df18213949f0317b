#pragma once

#include <cstddef>

namespace tui {

// Writes all `size` bytes to `fd`, going on after interruptions; false when the descriptor
// takes no more. Async-signal-safe.
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace tui
