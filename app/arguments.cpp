#include "app/arguments.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string DescribeFailure(const fs::path& path, const std::error_code& error) {
  return "brevalo: cannot use " + path.string() + ": " + error.message();
}

// One trailing '/' goes, except from "/" itself, which stays the root rather than becoming "".
std::string WithoutTrailingSlash(std::string dir) {
  if (dir.size() > 1 && dir.back() == '/') {
    dir.pop_back();
  }
  return dir;
}

}  // namespace

StartArguments ResolveArguments(int argc, const char* const* argv) {
  StartArguments result;
  std::error_code error;
  const fs::path given = argc < 2 ? fs::path(".") : fs::path(argv[1]);
  const fs::path absolute = fs::absolute(given, error).lexically_normal();
  if (error) {
    result.error = DescribeFailure(given, error);
    return result;
  }
  if (argc < 2) {
    result.start_dir = WithoutTrailingSlash(absolute.string());
    return result;
  }
  const fs::file_status status = fs::status(absolute, error);
  // A path that does not exist is a file to play; any other failure to look at it is reported.
  if (error && status.type() != fs::file_type::not_found) {
    result.error = DescribeFailure(absolute, error);
    return result;
  }
  if (status.type() == fs::file_type::directory) {
    result.start_dir = WithoutTrailingSlash(absolute.string());
  } else {
    result.start_file = absolute.string();
    result.start_dir = WithoutTrailingSlash(absolute.parent_path().string());
  }
  return result;
}
