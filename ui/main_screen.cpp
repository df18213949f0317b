#include "ui/main_screen.h"
