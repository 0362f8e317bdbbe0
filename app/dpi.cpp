#include "app/dpi.h"

#include <cstdint>

namespace dpi {

bool usable(int dpi) { return dpi >= kLowest && dpi <= kHighest; }

int scale(int value, int to_dpi, int from_dpi) {
  if (from_dpi <= 0) return value;
  const std::int64_t product = static_cast<std::int64_t>(value) * to_dpi;
  const std::int64_t half = from_dpi / 2;
  const std::int64_t q =
      product >= 0 ? (product + half) / from_dpi : -((-product + half) / from_dpi);
  return static_cast<int>(q);
}

Rect scale(const Rect& r, int dpi) {
  const int left = scale(r.x, dpi);
  const int top = scale(r.y, dpi);
  return {left, top, scale(r.x + r.width, dpi) - left, scale(r.y + r.height, dpi) - top};
}

Size window_size(int widening, int dpi) {
  return {scale(layout::kWidth + widening, dpi), scale(layout::kHeight, dpi)};
}

Rect place(const layout::Control& c, int widening, int dpi) {
  const int extra = (c.flags & layout::kWidens) ? widening : 0;
  return scale(Rect{c.x, c.y, c.width + extra, c.height}, dpi);
}

std::vector<int> part_edges(std::span<const layout::StatusPart> parts, int dpi) {
  std::vector<int> edges;
  int right = 0;
  for (const auto& part : parts) edges.push_back(scale(right += part.width, dpi));
  return edges;
}

int log_font_height(int dpi) { return scale(layout::kLogFontHeight, dpi); }

}  // namespace dpi
