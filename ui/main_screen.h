#pragma once

#include <memory>
#include <string>

#include "audio/playback_state.h"
#include "browser/file_browser_state.h"
#include "tui/component/component.h"
#include "tui/component/screen_interactive.h"

// What the last frame showed and the element drawn for it.
struct MainScreenMemo;
std::shared_ptr<MainScreenMemo> MakeMainScreenMemo();

// The frame: now-playing line, progress row, title line and the browser under its folder
// header. Each call also does the frame's playback bookkeeping: it publishes the terminal size,
// tells the sequence which file comes next on the listing, follows what it plays, and refreshes
// position and duration. While the frame would show what it showed last time, it hands back the
// element it built then, so that the loop need not draw it again.
struct RenderMainScreen {
  const tui::ScreenInteractive& screen;
  PlaybackState& playback;
  FileBrowserState& browser;
  tui::Component browser_component;
  // Shared by the copies of one screen.
  std::shared_ptr<MainScreenMemo> memo = MakeMainScreenMemo();

  tui::Element operator()() const;
};

// The gauge's fraction for what is heard: its position over its length, held to 0..1; 0 unless
// both are known and the length is a finite number above 0.
float ProgressFraction(const HeardSnapshot& heard);

// The title line's notice after "Brevalo - v0.3 - " (the project's major and minor version).
inline constexpr const char* kTitleNotice = "Space pause \u00b7 Tab info \u00b7 Esc quit";
