#include <string_view>

#include "tui/dom/draw.h"
#include "tui/dom/elements.h"
#include "tui/dom/text_glyphs.h"

namespace tui {
namespace {

class Text : public Node {
 public:
  explicit Text(std::string_view content) : glyphs_(SplitGlyphs(content)) {}

  void ComputeRequirement() override {
    requirement_ = {};
    requirement_.min_x = glyphs_.width;
    requirement_.min_y = 1;
  }

  // One row; glyphs are never wrapped, and a wide glyph that would straddle the right edge
  // ends the row instead.
  void Render(Screen& screen) override {
    const Box visible = VisiblePart(screen, box_);
    if (visible.IsEmpty() || box_.y_min != visible.y_min) {
      return;
    }
    int x = box_.x_min;
    for (const TextGlyph& glyph : glyphs_.glyphs) {
      if (x + glyph.width - 1 > visible.x_max) {
        return;
      }
      if (x >= visible.x_min) {
        const std::string_view bytes(glyphs_.bytes.data() + glyph.offset, glyph.size);
        DrawGlyph(screen, x, box_.y_min, bytes, glyph.width == 2);
      }
      x += glyph.width;
    }
  }

 private:
  TextGlyphs glyphs_;
};

}  // namespace

Element text(std::string_view content) { return std::make_shared<Text>(content); }

}  // namespace tui
