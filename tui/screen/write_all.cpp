#include "tui/screen/write_all.h"

#include <cerrno>

#include <unistd.h>

namespace tui {

bool WriteAll(int fd, const char* data, size_t size) {
  for (size_t sent = 0; sent < size;) {
    const ssize_t written = write(fd, data + sent, size - sent);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    sent += static_cast<size_t>(written);
  }
  return true;
}

}  // namespace tui
