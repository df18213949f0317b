#include "audio/player.h"
