#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace test_support {

// Starts a program (searched on PATH, no shell) with `environment` ("NAME=value") added to this
// process's, no input, its output into `output_path` and its messages into `error_path`; its
// process id, or -1 when it could not be started.
pid_t SpawnProgram(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const std::string& output_path,
                   const std::string& error_path);

// Waits for a program started by SpawnProgram; its exit status, or -1 when it did not exit.
int WaitForProgram(pid_t pid);

}  // namespace test_support
