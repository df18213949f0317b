#pragma once

#include <string>

// Where the program starts: the folder to browse and the file to play, if any.
struct StartArguments {
  std::string start_dir;   // Absolute, lexically normal, without a trailing '/'.
  std::string start_file;  // Empty when there is nothing to play.
  std::string error;       // One line for standard error when the path cannot be examined.
};

// Resolves the command line: no argument browses the current folder; a folder is browsed; any
// other path (even a missing one) is a file to play from its parent folder. Further arguments
// are ignored.
StartArguments ResolveArguments(int argc, const char* const* argv);
