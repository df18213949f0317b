#pragma once

#include <string>
#include <vector>

#include "browser/file_browser_state.h"

namespace browser_test {

// What a scan saw where permission bits hold; `skip_reason` is set when no such place could be
// made on this machine.
struct UnprivilegedScan {
  std::vector<FileEntry> rows;
  std::string skip_reason;
};

// Runs ScanDirectory(dir) where permission bits are enforced: in this process when it is not
// root, else in a forked child that drops to uid and gid 65534 (root ignores permission bits).
// `locked` names a path the caller made inaccessible; if it can still be read there, the scan
// is not run and `skip_reason` says why. The tree must be searchable by others up to `dir`.
UnprivilegedScan ScanWithoutPrivileges(const std::string& dir, const std::string& locked);

}  // namespace browser_test
