#include "browser/directory_listing.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "browser/screen_size.h"

namespace {

namespace fs = std::filesystem;

constexpr char kFolderPrefix[] = "[Folder] ";

// Rows before the first frame, when the terminal's height is not known yet.
constexpr int kRowsBeforeFirstFrame = 20;
// Rows the main screen keeps for itself: border, now-playing, progress, title, header, rules.
constexpr int kMainScreenFixedRows = 9;

bool IsHidden(const std::string& name) { return !name.empty() && name.front() == '.'; }

bool HasSupportedExtension(const fs::path& path) {
  std::string extension = path.extension().string();
  for (char& byte : extension) {
    byte = static_cast<char>(std::tolower(static_cast<unsigned char>(byte)));
  }
  return std::find(kSupportedExtensions.begin(), kSupportedExtensions.end(), extension) !=
         kSupportedExtensions.end();
}

// Errors that say the link's target cannot be reached rather than that the folder is broken:
// such an entry is simply not a folder, so one bad link neither hides the rest of the folder
// nor its order.
bool IsUnreachableTarget(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory ||
         error == std::errc::too_many_symbolic_link_levels ||
         error == std::errc::permission_denied || error == std::errc::operation_not_permitted;
}

// Folders first, then byte order of the labels. std::string compares through
// char_traits<char>, which orders bytes as unsigned values whatever the sign of char.
bool ComesBefore(const FileEntry& a, const FileEntry& b) {
  if (a.is_directory != b.is_directory) {
    return a.is_directory;
  }
  return a.label < b.label;
}

enum class EntryKind { kFolder, kFile, kNotListed };

// What the entry becomes in the listing; `error` is set when its type cannot be determined.
EntryKind ClassifyEntry(const fs::directory_entry& entry, std::error_code& error) {
  // Follows symbolic links, so a link to a folder is a folder.
  const bool is_directory = entry.is_directory(error);
  if (error && IsUnreachableTarget(error)) {
    error.clear();
  }
  if (error) {
    return EntryKind::kNotListed;
  }
  if (is_directory) {
    return EntryKind::kFolder;
  }
  return HasSupportedExtension(entry.path()) ? EntryKind::kFile : EntryKind::kNotListed;
}

// Appends the entry's row, if it has one; false when the scan must stop.
bool AppendEntry(const fs::directory_entry& entry, std::vector<FileEntry>& rows) {
  const std::string name = entry.path().filename().string();
  if (IsHidden(name)) {
    return true;
  }
  std::error_code error;
  const EntryKind kind = ClassifyEntry(entry, error);
  if (error) {
    return false;
  }
  if (kind == EntryKind::kNotListed) {
    return true;
  }
  const fs::path absolute = fs::absolute(entry.path(), error);
  if (error) {
    return false;
  }
  if (kind == EntryKind::kFolder) {
    rows.push_back({kFolderPrefix + name, absolute.string(), true});
  } else {
    rows.push_back({name, absolute.string(), false});
  }
  return true;
}

}  // namespace

std::vector<FileEntry> ScanDirectory(const std::string& dir) {
  std::vector<FileEntry> rows;
  const fs::path directory(dir);
  if (directory != directory.root_path()) {
    rows.push_back({kParentLabel, directory.parent_path().string(), true});
  }

  std::error_code error;
  fs::directory_iterator it(directory, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    if (!AppendEntry(*it, rows)) {
      return rows;
    }
  }
  if (error) {
    return rows;
  }
  std::sort(rows.begin(), rows.end(), ComesBefore);
  return rows;
}

int VisibleRowCount() {
  if (g_screen_height <= 0) {
    return kRowsBeforeFirstFrame;
  }
  return std::max(g_screen_height - kMainScreenFixedRows, 1);
}

int ClampScroll(int offset, int count, int rows) {
  const int last_page_start = std::max(count - rows, 0);
  return std::min(std::max(offset, 0), last_page_start);
}
