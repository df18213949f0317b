#include "app/track_selection.h"
