#include "ui/metadata_overlay.h"

#include <string>

#include "browser/screen_size.h"

namespace {

// The labels are eight characters wide so that every value starts in the ninth column.
tui::Element MetadataRow(const char* label, const std::string& value) {
  return tui::text(std::string(label) + (value.empty() ? "(unknown)" : value));
}

tui::Element MetadataWindow(const TrackMetadata& metadata) {
  return tui::vbox({
             tui::text("Track Metadata") | tui::bold | tui::center,
             tui::separator(),
             MetadataRow("Title:  ", metadata.title),
             MetadataRow("Artist: ", metadata.artist),
             MetadataRow("Album:  ", metadata.album),
             MetadataRow("Year:   ", metadata.year),
             MetadataRow("Genre:  ", metadata.genre),
             tui::separator(),
             tui::text("Press TAB or ESC to close") | tui::dim | tui::center,
         }) |
         tui::border | tui::size(tui::HEIGHT, tui::LESS_THAN, g_screen_height / 2) |
         tui::size(tui::WIDTH, tui::LESS_THAN, g_screen_width / 2);
}

}  // namespace

tui::Element LayMetadataOverlay(tui::Element main_screen, const TrackMetadata& metadata) {
  // The window's rows write only their text: without the blanking, the main screen under it
  // (the folder header, long file names) would read on after each value. Its cells then get
  // the layer's colours again.
  tui::Element window = MetadataWindow(metadata) | tui::bgcolor(tui::Color::Black) |
                        tui::color(tui::Color::White) | tui::clear_under;
  // The centred element spans the frame, so the layer's colours cover every cell.
  tui::Element layer = tui::center(std::move(window)) | tui::bgcolor(tui::Color::Black) |
                       tui::color(tui::Color::White);
  return tui::dbox({std::move(main_screen), std::move(layer)});
}
