#pragma once

#include <algorithm>

#include <string>
#include <vector>

// What running a program cost, from the kernel's own accounting.
struct ProcessCost {
  bool ok = false;  // Ran and exited with status 0.
  double cpu_seconds = 0;
  double wall_seconds = 0;
  double peak_rss_mb = 0;
};

// User and system CPU seconds that process `pid` has used so far, from /proc; -1 when it
// cannot be read.
double CpuSecondsOf(int pid);

// CPU seconds that the live threads of process `pid` have used so far, to the nanosecond, from
// the scheduler's own accounting; for short stretches, where /proc's clock ticks are too coarse.
double ThreadsCpuSeconds(int pid);

// Runs a program (searched on PATH) with no input or output, and waits for it.
ProcessCost RunProgram(std::vector<std::string> arguments);

// Makes `path` with the ffmpeg tool: `seconds` of a tone with some noise, so that encoders work
// as they would on music, encoded with the `codec` options. False when ffmpeg fails.
bool MakeBenchMedia(const std::string& path, double seconds, const std::vector<std::string>& codec);

// Figures of repeated runs: their median and their largest.
struct Spread {
  std::vector<double> values;
  void Add(double value) { values.push_back(value); }
  double Median() {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }
  double Max() { return *std::max_element(values.begin(), values.end()); }
};
