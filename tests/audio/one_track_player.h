#pragma once

#include "audio/player.h"
#include "audio/track.h"

namespace engine_test {

// A Player that plays `track` alone, from its decoder, and ends with it: the simplest source, for
// the tests of the Player and of the outputs under it. Null for a null track.
Player* CreateOneTrackPlayer(AudioTrack* track);

}  // namespace engine_test
