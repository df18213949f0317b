#include "tui/screen/screen.h"
