#pragma once

#include <chrono>

#include "tui/component/loop.h"
#include "tui/component/screen_interactive.h"

// The pace of the main loop: at most twenty passes a second.
inline constexpr std::chrono::nanoseconds kFrameInterval{50'000'000};

// Runs passes until the loop has quit: handle what is pending and draw, post a custom event so
// the next pass draws even without input (the clock moves, the end of a track is noticed),
// sleep.
void RunMainLoop(tui::Loop& loop, tui::ScreenInteractive& screen);
