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

// The marked row and the pause toggle follow what the sequence plays. A file chosen plays
// unpaused; one that follows by itself keeps a pause made as the one before it ended.
void FollowTheSequence(PlaybackState& playback, FileBrowserState& browser) {
  const FileOnListing listing = [&browser](const std::string& path,
                                           bool heard) -> const std::string& {
    return FileFollowing(browser, path, heard);
  };
  StepPlayback(playback, listing);
  const SequenceChange& change = playback.heard.change;
  switch (change.kind) {
    case SequenceChangeKind::kStarted:
      browser.paused = false;
      [[fallthrough]];
    case SequenceChangeKind::kMovedOn:
      MarkPlayingEntry(browser, change.path);
      break;
    case SequenceChangeKind::kStopped:
      // The track that played has stopped: no row may go on claiming it plays.
      browser.playing_index = -1;
      browser.paused = false;
      break;
    case SequenceChangeKind::kEnded:
      browser.paused = false;  // Nothing follows: nothing to hold.
      break;
    case SequenceChangeKind::kNone:
      break;
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
  const HeardSnapshot& heard = playback.heard;
  if (!heard.loaded) {
    inputs.now_playing.assign("Choose audio file");
    inputs.elapsed.assign("--:--");
    inputs.total.assign("--:--");
    return;
  }
  inputs.now_playing.assign("Now playing: ").append(playback.now_playing);
  inputs.elapsed = heard.position >= 0 ? FormatTime(heard.position) : "--:--";
  inputs.total = FormatTime(heard.duration);
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

float ProgressFraction(const HeardSnapshot& heard) {
  const double position = heard.position;
  const double duration = heard.duration;
  if (!heard.loaded || !std::isfinite(position) || !std::isfinite(duration) || duration <= 0 ||
      position < 0) {
    return 0;
  }
  return static_cast<float>(std::clamp(position / duration, 0.0, 1.0));
}

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
  // The step reads the position after it has moved on, so that a track that starts or follows
  // shows from its start.
  FollowTheSequence(playback, browser);
  FrameInputs& inputs = memo->next;
  inputs.width = g_screen_width;
  inputs.height = g_screen_height;
  inputs.progress = ProgressFraction(playback.heard);
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
