#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace test_support {

// A fresh directory under the system's temporary folder, removed with everything in it (also
// unreadable sub-folders) when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Writes `content` to `path`, creating or truncating it.
void WriteFile(const std::filesystem::path& path, std::string_view content);
// The whole content of `path`; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace test_support
