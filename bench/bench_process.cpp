#include "bench/bench_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

double CpuSecondsOf(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The command name may hold spaces and parentheses; the fields after it do not.
  const size_t after_name = content.rfind(')');
  if (after_name == std::string::npos) {
    return -1;
  }
  std::istringstream fields(content.substr(after_name + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; fields >> field && i <= 15; ++i) {
    if (i == 14 || i == 15) {  // utime, stime
      ticks += std::stol(field);
    }
  }
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ThreadsCpuSeconds(int pid) {
  std::error_code error;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  double seconds = 0;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    unsigned long long nanoseconds = 0;
    if (schedstat >> nanoseconds) {
      seconds += static_cast<double>(nanoseconds) / 1e9;
    }
  }
  return seconds;
}

ProcessCost RunProgram(std::vector<std::string> arguments) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  ProcessCost cost;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return cost;
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  cost.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.cpu_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  cost.peak_rss_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return cost;
}

bool MakeBenchMedia(const std::string& path, double seconds,
                    const std::vector<std::string>& codec) {
  std::vector<std::string> arguments = {"ffmpeg",
                                        "-nostdin",
                                        "-v",
                                        "error",
                                        "-y",
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "aevalsrc=exprs=0.3*sin(2*PI*440*t)+0.1*(random(0)-0.5)|"
                                        "0.3*sin(2*PI*660*t)+0.1*(random(1)-0.5):s=44100:d=" +
                                            std::to_string(seconds)};
  arguments.insert(arguments.end(), codec.begin(), codec.end());
  arguments.push_back(path);
  return RunProgram(arguments).ok;
}
