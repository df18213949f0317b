#include "ui/main_screen.h"

#include <algorithm>
#include <cmath>

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

void RefreshDuration(PlaybackState& playback) {
  Player* player = playback.player;
  if (playback.track_loaded && player != nullptr) {
    playback.duration = player->track != nullptr ? player->track->duration : -1.0;
  } else {
    playback.duration = 0;
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

void RebuildNowPlaying(PlaybackState& playback) {
  const TrackMetadata& metadata = playback.track.metadata;
  if (metadata.title.empty()) {
    return;
  }
  std::string line = metadata.title;
  if (!metadata.artist.empty()) {
    line += " | " + metadata.artist;
  }
  if (!metadata.year.empty()) {
    line += " (" + metadata.year + ")";
  }
  if (!metadata.genre.empty()) {
    line += " /" + metadata.genre + "/";
  }
  playback.now_playing = std::move(line);
}

struct FrameTexts {
  std::string now_playing;
  std::string elapsed;
  std::string total;
};

FrameTexts MakeFrameTexts(const PlaybackState& playback) {
  if (!playback.track_loaded) {
    return {"Choose audio file", "--:--", "--:--"};
  }
  return {"Now playing: " + playback.now_playing,
          playback.position >= 0 ? FormatTime(playback.position) : "--:--",
          FormatTime(playback.duration)};
}

}  // namespace

tui::Element RenderMainScreen::operator()() const {
  g_screen_width = screen.dimx();
  g_screen_height = screen.dimy();
  RefreshPosition(playback);
  RefreshDuration(playback);
  // Not at the end of the data but once it has been heard: the queue still holds up to three
  // buffers then, and freeing the Player would cut them off.
  if (playback.track_loaded && playback.player != nullptr && PlayerPlayedOut(playback.player)) {
    AdvanceToNextTrack(browser, on_track_selected);
  }
  // In the frame that starts the next track, position and duration still describe the one that
  // ended; the now-playing text already names the new one.
  const float progress = ProgressFraction(playback);
  RebuildNowPlaying(playback);
  const FrameTexts texts = MakeFrameTexts(playback);

  tui::Element frame = tui::vbox({
                           tui::text(texts.now_playing) | tui::center,
                           tui::separator(),
                           tui::hbox({
                               tui::text(texts.elapsed),
                               tui::gauge(progress) | tui::flex,
                               tui::text(texts.total),
                           }),
                           tui::separator(),
                           tui::text(std::string(kTitlePrefix) + kTitleNotice) | tui::center,
                           tui::separator(),
                           tui::text("FILE BROWSER (" + browser.current_dir + ")") | tui::center,
                           browser_component->Render() | tui::flex,
                       }) |
                       tui::border;
  if (browser.show_metadata) {
    frame = LayMetadataOverlay(std::move(frame), browser.overlay_metadata);
  }
  return frame;
}
