#include <cmath>

#include "tui/dom/draw.h"
#include "tui/dom/elements.h"

namespace tui {
namespace {

// Partial cells, from one eighth to seven eighths.
constexpr const char* kEighths[] = {"▏", "▎", "▍", "▌", "▋", "▊", "▉"};
constexpr char kFull[] = "█";

float ClampProgress(float progress) {
  if (std::isnan(progress)) {
    return 0.0F;
  }
  return std::fmin(std::fmax(progress, 0.0F), 1.0F);
}

class Gauge : public Node {
 public:
  explicit Gauge(float progress) : progress_(ClampProgress(progress)) {}

  void ComputeRequirement() override {
    requirement_ = {};
    requirement_.min_x = 1;
    requirement_.min_y = 1;
    requirement_.flex_grow_x = 1;
    requirement_.flex_shrink_x = 1;
  }

  void Render(Screen& screen) override {
    const Box visible = VisiblePart(screen, box_);
    if (visible.IsEmpty() || box_.y_min != visible.y_min) {
      return;
    }
    const GaugeFill fill = GaugeFillAt(progress_, box_.Width());
    for (int x = visible.x_min; x <= visible.x_max; ++x) {
      const int cell = x - box_.x_min;
      if (cell < fill.full_cells) {
        DrawGlyph(screen, x, box_.y_min, kFull);
      } else if (cell == fill.full_cells && fill.eighths > 0) {
        DrawGlyph(screen, x, box_.y_min, kEighths[fill.eighths - 1]);
      } else {
        DrawGlyph(screen, x, box_.y_min, " ");
      }
    }
  }

 private:
  float progress_;
};

}  // namespace

GaugeFill GaugeFillAt(float progress, int width) {
  const double filled = static_cast<double>(ClampProgress(progress)) * width;
  const int full_cells = static_cast<int>(std::floor(filled));
  return {full_cells, static_cast<int>(std::floor((filled - full_cells) * 8))};
}

Element gauge(float progress) { return std::make_shared<Gauge>(progress); }

}  // namespace tui
