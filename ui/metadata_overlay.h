#pragma once

#include "audio/track.h"
#include "tui/dom/elements.h"

// Lays the "Track Metadata" window, centred and at most half the terminal in each direction,
// over `main_screen`, on a black-and-white layer that covers the whole frame.
tui::Element LayMetadataOverlay(tui::Element main_screen, const TrackMetadata& metadata);
