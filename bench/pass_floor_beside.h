#pragma once

// The player's cost over a stretch, beside the floor under it: an empty 20 Hz loop that maps
// the same libraries (bench/pass_floor), run on a terminal of its own over the same stretch. On
// a shared virtual machine the wakeups alone cost more from hour to hour than the player's own
// work in a pass, so only the two side by side tell what the player adds.

#include <functional>

struct CostBesideFloor {
  double seconds = 0;     // The stretch.
  double player_cpu = 0;  // CPU seconds of all the player's threads.
  double floor_cpu = 0;   // CPU seconds of the empty loop; -1 when it did not run.
};

// Runs `stretch` (which reads the player's output for `seconds`) with the floor beside it and
// measures both. `player_pid` is the running player's.
CostBesideFloor MeasureBesideFloor(int player_pid, double seconds,
                                   const std::function<void()>& stretch);

// "<what> 20 s: 0.0300 s CPU = 0.150 % of one core, 75 us a pass; an empty loop with the same
// libraries beside it: 0.120 %, 60 us a pass; the player's own: 15 us a pass".
void PrintBesideFloor(const char* what, const CostBesideFloor& cost);
