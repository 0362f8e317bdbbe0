#include "tray/sweep.h"

namespace tray {

std::vector<GridPoint> sweep_points(const ClientRect& client) {
  const std::int32_t rows = client.bottom / kSweepStep;
  const std::int32_t columns = client.right / kSweepStep;
  std::vector<GridPoint> points;
  if (rows <= 0 || columns <= 0) return points;
  points.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
  for (std::int32_t r = 1; r <= rows; ++r) {
    for (std::int32_t c = 1; c <= columns; ++c) points.push_back({kSweepStep * c, kSweepStep * r});
  }
  return points;
}

std::uint32_t mouse_lparam(GridPoint point) {
  return (static_cast<std::uint32_t>(point.x) & 0xFFFFu) |
         ((static_cast<std::uint32_t>(point.y) & 0xFFFFu) << 16);
}

}  // namespace tray
