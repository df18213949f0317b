#include "app/track_selection.h"

void OnTrackSelected::operator()(const std::string& path) const { playback.sequence.Choose(path); }
