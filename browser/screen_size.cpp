#include "browser/screen_size.h"

int g_screen_width = 0;
int g_screen_height = 0;
