#include "ui/main_screen.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>

#include "browser/playing_row.h"
#include "browser/screen_size.h"
#include "ui/format_time.h"
#include "ui/metadata_overlay.h"
#include "ui/next_track.h"

namespace {

// "Brevalo - v0.3 - ": the build passes the project's major and minor version.
constexpr char kTitlePrefix[] = "Brevalo - v" BREVALO_SHORT_VERSION " - ";

void RefreshPosition(PlaybackState& playback) {
  Player* player = playback.player;
  // A paused Player keeps the last position shown.
  if (player != nullptr && !player->paused) {
    playback.position = PlayerCurrentTime(player);
  }
}

float ProgressFraction(const PlaybackState& playback) {
  const double position = playback.position;
  const double duration = playback.duration;
  if (!playback.track_loaded || !std::isfinite(position) || !std::isfinite(duration) ||
      duration <= 0 || position < 0) {
    return 0;
  }
  return static_cast<float>(std::clamp(position / duration, 0.0, 1.0));
}

// Built in place: the line keeps its room from pass to pass.
void RebuildNowPlaying(PlaybackState& playback) {
  const TrackMetadata& metadata = PlayingTrack(playback).metadata;
  if (metadata.title.empty()) {
    return;
  }
  std::string& line = playback.now_playing;
  line.assign(metadata.title);
  if (!metadata.artist.empty()) {
    line.append(" | ").append(metadata.artist);
  }
  if (!metadata.year.empty()) {
    line.append(" (").append(metadata.year).append(")");
  }
  if (!metadata.genre.empty()) {
    line.append(" /").append(metadata.genre).append("/");
  }
}

// The next file is read as soon as the Player asks for it, some seconds before the playing
// track's last frame is heard. Once it is heard, the screen moves on to its row, unless the
// listing on screen no longer has it next: then the row that is next is played instead.
void FollowTheStream(PlaybackState& playback, FileBrowserState& browser,
                     const std::function<void(const std::string&)>& on_track_selected) {
  if (playback.player == nullptr) {
    return;
  }
  if (PlayerWantsNextTrack(playback.player)) {
    PrepareNextTrack(playback, NextTrackPath(browser));
  }
  if (!FollowHeardTrack(playback)) {
    return;
  }
  // The playing row is still the one that was heard until now.
  const std::string next_row = NextTrackPath(browser);
  if (next_row.empty() || next_row == playback.now_playing) {
    MarkPlayingEntry(browser, playback.now_playing);
  } else {
    on_track_selected(next_row);
  }
}

// Starts the file read ahead for the ended track, whose output waits primed (or has just
// started), when it is still the next file row of the listing, or when there is none; true
// when something new plays.
bool StartWhatWasReadAhead(PlaybackState& playback, FileBrowserState& browser) {
  if (playback.next_player == nullptr) {
    return false;
  }
  const std::string next_row = NextTrackPath(browser);
  if (!next_row.empty() && next_row != playback.ahead_path) {
    return false;  // The row is played instead, which frees what was read ahead.
  }
  browser.paused = false;
  if (!StartNextPlayer(playback)) {
    browser.playing_index = -1;
    return false;
  }
  MarkPlayingEntry(browser, playback.now_playing);
  return true;
}

// The ended track has been heard out: the next file of the listing starts. A pause asked for
// at the end, as the last frames were heard, holds the next track where it starts.
void AdvanceAfterTheEnd(PlaybackState& playback, FileBrowserState& browser,
                        const std::function<void(const std::string&)>& on_track_selected) {
  const bool pause = browser.paused;
  const bool started = StartWhatWasReadAhead(playback, browser) ||
                       (playback.track_loaded && AdvanceToNextTrack(browser, on_track_selected) &&
                        playback.player != nullptr);
  if (!started) {
    browser.paused = false;  // Nothing follows: nothing to hold.
  } else if (pause) {
    PausePlayer(playback.player);
    browser.paused = true;
  }
}

// Everything the frame shows. Filled in place on every pass, so that its strings keep their
// room and an idle pass allocates nothing.
struct FrameInputs {
  int width = 0;
  int height = 0;
  std::string now_playing;
  std::string elapsed;
  std::string total;
  float progress = 0;
  std::string header;
  tui::Element listing;
  bool show_metadata = false;
  TrackMetadata overlay;  // Read only while show_metadata.
};

void ReadTexts(const PlaybackState& playback, FrameInputs& inputs) {
  if (!playback.track_loaded) {
    inputs.now_playing.assign("Choose audio file");
    inputs.elapsed.assign("--:--");
    inputs.total.assign("--:--");
    return;
  }
  inputs.now_playing.assign("Now playing: ").append(playback.now_playing);
  inputs.elapsed = playback.position >= 0 ? FormatTime(playback.position) : "--:--";
  inputs.total = FormatTime(playback.duration);
}

bool SameTags(const TrackMetadata& a, const TrackMetadata& b) {
  return std::tie(a.title, a.artist, a.album, a.year, a.genre) ==
         std::tie(b.title, b.artist, b.album, b.year, b.genre);
}

// The progress counts only as far as a gauge `width` cells wide shows it. Before the gauge has
// been laid out its width is unknown, and any change counts.
bool SameGauge(float a, float b, int width) {
  if (a == b || width <= 0) {
    return a == b;
  }
  return tui::GaugeFillAt(a, width) == tui::GaugeFillAt(b, width);
}

bool SameFrame(const FrameInputs& a, const FrameInputs& b, int gauge_width) {
  return a.width == b.width && a.height == b.height && a.now_playing == b.now_playing &&
         a.elapsed == b.elapsed && a.total == b.total && a.header == b.header &&
         a.listing == b.listing && a.show_metadata == b.show_metadata &&
         (!a.show_metadata || SameTags(a.overlay, b.overlay)) &&
         SameGauge(a.progress, b.progress, gauge_width);
}

tui::Element BuildFrame(const FrameInputs& inputs, const tui::Element& gauge) {
  tui::Element frame = tui::vbox({
                           tui::text(inputs.now_playing) | tui::center,
                           tui::separator(),
                           tui::hbox({
                               tui::text(inputs.elapsed),
                               gauge | tui::flex,
                               tui::text(inputs.total),
                           }),
                           tui::separator(),
                           tui::text(std::string(kTitlePrefix) + kTitleNotice) | tui::center,
                           tui::separator(),
                           tui::text(inputs.header) | tui::center,
                           inputs.listing | tui::flex,
                       }) |
                       tui::border;
  if (inputs.show_metadata) {
    frame = LayMetadataOverlay(std::move(frame), inputs.overlay);
  }
  return frame;
}

}  // namespace

struct MainScreenMemo {
  FrameInputs shown;
  // Filled on every pass; swapped with `shown` when the frame is built again.
  FrameInputs next;
  tui::Element frame;
  // The gauge inside `frame`: once drawn, its box is the width the progress is judged at.
  tui::Element gauge;
};

std::shared_ptr<MainScreenMemo> MakeMainScreenMemo() { return std::make_shared<MainScreenMemo>(); }

tui::Element RenderMainScreen::operator()() const {
  g_screen_width = screen.dimx();
  g_screen_height = screen.dimy();
  FollowTheStream(playback, browser, on_track_selected);
  RefreshPosition(playback);
  playback.duration = PlayingDuration(playback);
  // Not at the end of the data but once it has been heard: the queue still holds up to three
  // buffers then, and freeing the Player would cut them off.
  if (playback.track_loaded && playback.player != nullptr && PlayerPlayedOut(playback.player)) {
    AdvanceAfterTheEnd(playback, browser, on_track_selected);
  }
  FrameInputs& inputs = memo->next;
  inputs.width = g_screen_width;
  inputs.height = g_screen_height;
  // In the frame that starts the next track, position and duration still describe the one that
  // ended; the now-playing text already names the new one.
  inputs.progress = ProgressFraction(playback);
  RebuildNowPlaying(playback);
  ReadTexts(playback, inputs);
  inputs.header.assign("FILE BROWSER (").append(browser.current_dir).append(")");
  inputs.listing = browser_component->Render();
  inputs.show_metadata = browser.show_metadata;
  if (inputs.show_metadata) {
    inputs.overlay = browser.overlay_metadata;
  }
  const int gauge_width = memo->gauge != nullptr ? memo->gauge->box().Width() : 0;
  if (memo->frame == nullptr || !SameFrame(inputs, memo->shown, gauge_width)) {
    memo->gauge = tui::gauge(inputs.progress);
    memo->frame = BuildFrame(inputs, memo->gauge);
    std::swap(inputs, memo->shown);
  }
  return memo->frame;
}
