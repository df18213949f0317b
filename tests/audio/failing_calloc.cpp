#include "tests/audio/failing_calloc.h"

#include <atomic>
#include <cerrno>

namespace {

// The size of the one allocation to refuse; 0 when none is armed.
std::atomic<std::size_t> g_failing_bytes{0};

}  // namespace

// The linker's names for the wrapped symbol and for the C library's own.
extern "C" void* __real_calloc(std::size_t count, std::size_t size);

extern "C" void* __wrap_calloc(std::size_t count, std::size_t size) {
  std::size_t armed = g_failing_bytes.load();
  if (armed != 0 && count * size == armed && g_failing_bytes.compare_exchange_strong(armed, 0)) {
    errno = ENOMEM;
    return nullptr;
  }
  return __real_calloc(count, size);
}

namespace engine_test {

void FailNextCalloc(std::size_t bytes) { g_failing_bytes.store(bytes); }

}  // namespace engine_test
