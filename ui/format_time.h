#pragma once

#include <string>

// "mm:ss" with at least two digits of minutes; "--:--" for a negative or NaN time.
std::string FormatTime(double seconds);
