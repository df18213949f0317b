#include "audio/playback_state.h"
