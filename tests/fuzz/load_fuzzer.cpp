// libFuzzer target: arbitrary bytes through the program's load path, from a file in memory.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "tests/fuzz/load_path.h"

namespace {

// One memory file for the whole run, rewritten for every input. LoadTrack opens it by its
// /proc path, as it would any regular file, so the engine's own read path is the one fuzzed.
struct MemoryFile {
  MemoryFile() : fd(memfd_create("fuzz-input", MFD_CLOEXEC)) {
    if (fd < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    path = "/proc/self/fd/" + std::to_string(fd);
  }

  void Fill(const uint8_t* data, size_t size) const {
    if (ftruncate(fd, 0) != 0) {
      std::perror("ftruncate");
      std::abort();
    }
    for (size_t written = 0; written < size;) {
      const ssize_t count = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
      if (count <= 0) {
        std::perror("pwrite");
        std::abort();
      }
      written += static_cast<size_t>(count);
    }
  }

  int fd;
  std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const MemoryFile file;
  file.Fill(data, size);
  const fuzz::LoadPathResult result = fuzz::RunLoadPath(file.path.c_str());
  if (!result.broken_promise.empty()) {
    std::fprintf(stderr, "broken promise: %s (declared %llu frames, decoded %llu in %u reads)\n",
                 result.broken_promise.c_str(),
                 static_cast<unsigned long long>(result.declared_frames),
                 static_cast<unsigned long long>(result.decoded_frames), result.reads);
    std::abort();
  }
  return 0;
}
