// How late the machine wakes a real-time thread: what a sound server's graph and its clients
// meet on it. A thread at SCHED_FIFO 88 (PipeWire's data threads' priority), its memory locked,
// sleeps to a deadline every 10 ms and notes how far past it it woke. Run it idle, then beside a
// load (a build, stress-ng): a graph whose quantum is shorter than the worst wake-up leaves
// a late client's quantum out of the mix.
//
//   build/bench/wake_latency [seconds]

#include <sched.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  sched_param priority{};
  priority.sched_priority = 88;
  if (sched_setscheduler(0, SCHED_FIFO, &priority) != 0) {
    std::fprintf(stderr, "not at real-time priority: %s\n", std::strerror(errno));
  }
  mlockall(MCL_CURRENT | MCL_FUTURE);
  constexpr std::array<int, 5> kBounds = {1, 5, 10, 20, 40};  // ms
  std::array<int, kBounds.size()> over{};
  const int wakes = seconds * 100;
  steady_clock::duration worst{};
  steady_clock::time_point deadline = steady_clock::now();
  for (int i = 0; i < wakes; ++i) {
    deadline += milliseconds(10);
    std::this_thread::sleep_until(deadline);
    const steady_clock::duration late = steady_clock::now() - deadline;
    worst = std::max(worst, late);
    for (size_t b = 0; b < kBounds.size(); ++b) {
      over[b] += late > milliseconds(kBounds[b]) ? 1 : 0;
    }
  }
  std::printf("%d wake-ups in %d s; the latest %.1f ms late; later than", wakes, seconds,
              std::chrono::duration<double, std::milli>(worst).count());
  for (size_t b = 0; b < kBounds.size(); ++b) {
    std::printf(" %d ms: %d%s", kBounds[b], over[b], b + 1 < kBounds.size() ? "," : "\n");
  }
  return 0;
}
