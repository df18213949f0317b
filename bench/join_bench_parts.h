#pragma once

// The parts of bench/join_bench that play from slow storage or on the stress sink; each prints
// its own lines.

#include <filesystem>
#include <string>

#include "tests/support/sound_server.h"

// An album of three 6 s WAV files on a paced mirror (tests/support/slow_mirror.h), where reading
// a file takes 0, 25 % and 50 % of its length: the silence heard at each join and the album's
// frames lost, by the program and by mpv with its playlist prefetch, through `server`.
void SlowStorageJoins(test_support::SoundServer& server, const std::string& program,
                      const std::filesystem::path& folder);

// While a chosen file takes 8 s to read: how long Down takes to move the highlight, and Escape
// to end the program (SDL's file driver, no server).
void KeysDuringARead(const std::string& program, const std::filesystem::path& folder);

// On the stress sink (a null sink at its defaults, which renders seconds ahead): how late the
// next title shows after a 2.00 s track's length, by the program and by mpv; how long after its
// end has been found an ended track's stream is corked.
void RenderingAheadTimings(test_support::SoundServer& server, const std::string& program,
                           const std::filesystem::path& folder);
