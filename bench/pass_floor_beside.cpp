#include "bench/pass_floor_beside.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/bench_process.h"
#include "bench/pty_program.h"

namespace {

constexpr double kPassesPerSecond = 20;

std::string FloorProgram() {
  return (std::filesystem::canonical("/proc/self/exe").parent_path() / "pass_floor").string();
}

}  // namespace

CostBesideFloor MeasureBesideFloor(int player_pid, double seconds,
                                   const std::function<void()>& stretch) {
  PtyProgram floor({FloorProgram()}, {});
  const bool floor_runs = floor.ReadFor(std::chrono::seconds(5), "floor over");
  CostBesideFloor cost;
  cost.seconds = seconds;
  const double player_before = ThreadsCpuSeconds(player_pid);
  const double floor_before = ThreadsCpuSeconds(floor.pid());
  stretch();
  cost.player_cpu = ThreadsCpuSeconds(player_pid) - player_before;
  cost.floor_cpu = floor_runs ? ThreadsCpuSeconds(floor.pid()) - floor_before : -1;
  return cost;
}

void PrintBesideFloor(const char* what, const CostBesideFloor& cost) {
  const double passes = cost.seconds * kPassesPerSecond;
  std::printf("%s %.0f s: %.4f s CPU = %.3f %% of one core, %.0f us a pass", what, cost.seconds,
              cost.player_cpu, 100 * cost.player_cpu / cost.seconds,
              1e6 * cost.player_cpu / passes);
  if (cost.floor_cpu < 0) {
    std::printf("; no floor measured (bench/pass_floor did not run)\n");
    return;
  }
  std::printf(
      "; an empty loop with the same libraries beside it: %.3f %%, %.0f us a pass; the player's "
      "own: %.0f us a pass\n",
      100 * cost.floor_cpu / cost.seconds, 1e6 * cost.floor_cpu / passes,
      1e6 * (cost.player_cpu - cost.floor_cpu) / passes);
}
