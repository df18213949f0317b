#pragma once

#include <string>
#include <string_view>

// Writes `text`, then `detail` and a newline, to standard error in one write, flushed at once.
// When standard error is a terminal, each control character of `detail`, and each byte that is
// not well-formed UTF-8, is written as '?': a file name must never steer the terminal. Anywhere
// else the detail goes out unchanged.
void WriteFailureLine(std::string_view text, std::string_view detail);

// Writes lines kept for later (each with its newline) to standard error as they are, flushed.
void WriteLines(const std::string& lines);
