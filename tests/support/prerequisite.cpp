#include "tests/support/prerequisite.h"

#include <cstdlib>
#include <string_view>

namespace test_support {

bool SkipsForbidden() {
  const char* value = std::getenv("BREVALO_NO_SKIP");
  return value != nullptr && std::string_view(value) != "" && std::string_view(value) != "0";
}

}  // namespace test_support
