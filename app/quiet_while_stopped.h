#pragma once

#include "audio/playback_state.h"
#include "browser/file_browser_state.h"
#include "tui/component/screen_interactive.h"

// Ctrl-Z stops the whole process, but not the sound server, which would play on from the second
// it holds and then cut off mid-note. The track is paused just before the stop, so the sound
// ends at once, and resumed once the process is continued, unless the user had paused it.
tui::SuspendHooks QuietWhileStopped(PlaybackState& playback, const FileBrowserState& browser);
