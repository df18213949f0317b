#include "audio/track.h"
