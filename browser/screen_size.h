#pragma once

// The terminal's size at the start of the latest frame; 0 before the first. Written only by the
// main screen, on the UI thread.
extern int g_screen_width;
extern int g_screen_height;
