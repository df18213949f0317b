#include "audio/platform/audio_platform.h"
