#include "tui/dom/box_layout.h"

#include <algorithm>
#include <cstdint>

namespace tui {
namespace {

using Sizes = std::vector<int>;

void Grow(const std::vector<FlexItem>& items, int spare, Sizes& sizes) {
  std::int64_t remaining_grow = 0;
  for (const FlexItem& item : items) {
    remaining_grow += item.grows ? item.grow : 0;
  }
  for (size_t index = 0; index < items.size() && remaining_grow > 0; ++index) {
    if (!items[index].grows) {
      continue;
    }
    const auto added = static_cast<int>(spare * std::int64_t{items[index].grow} / remaining_grow);
    sizes[index] += added;
    spare -= added;
    remaining_grow -= items[index].grow;
  }
}

// Takes `deficit` cells away from the items that `selected` picks, in proportion to their
// minimum; the last one picked absorbs the rounding.
template <typename Selected>
void GiveUp(const std::vector<FlexItem>& items, std::int64_t deficit, Selected selected,
            Sizes& sizes) {
  std::int64_t remaining_min = 0;
  for (size_t index = 0; index < items.size(); ++index) {
    remaining_min += selected(items[index]) ? sizes[index] : 0;
  }
  for (size_t index = 0; index < items.size() && remaining_min > 0; ++index) {
    if (!selected(items[index])) {
      continue;
    }
    const int min_size = sizes[index];
    const auto taken = static_cast<int>(deficit * min_size / remaining_min);
    sizes[index] -= taken;
    deficit -= taken;
    remaining_min -= min_size;
  }
}

void Shrink(const std::vector<FlexItem>& items, std::int64_t deficit, Sizes& sizes) {
  std::int64_t shrinkable = 0;
  for (size_t index = 0; index < items.size(); ++index) {
    shrinkable += items[index].shrinks ? sizes[index] : 0;
  }
  if (shrinkable >= deficit) {
    GiveUp(
        items, deficit, [](const FlexItem& item) { return item.shrinks; }, sizes);
    return;
  }
  for (size_t index = 0; index < items.size(); ++index) {
    if (items[index].shrinks) {
      sizes[index] = 0;
    }
  }
  GiveUp(
      items, deficit - shrinkable, [](const FlexItem& item) { return !item.shrinks; }, sizes);
}

}  // namespace

std::vector<int> DistributeSpace(const std::vector<FlexItem>& items, int available) {
  available = std::max(available, 0);
  Sizes sizes;
  sizes.reserve(items.size());
  std::int64_t total_min = 0;
  for (const FlexItem& item : items) {
    sizes.push_back(std::max(item.min_size, 0));
    total_min += sizes.back();
  }
  if (total_min <= available) {
    Grow(items, available - static_cast<int>(total_min), sizes);
  } else {
    Shrink(items, total_min - available, sizes);
  }
  return sizes;
}

}  // namespace tui
