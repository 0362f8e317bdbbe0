// The points at which the stale-icon sweep moves the pointer over a notification-area toolbar.
// The shell drops an icon whose owner window is gone only when the pointer passes over it, so a
// 2-pixel grid over the toolbar's client area reaches every icon.
#pragma once

#include <cstdint>
#include <vector>

namespace tray {

struct ClientRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct GridPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
  bool operator==(const GridPoint&) const = default;
};

inline constexpr std::int32_t kSweepStep = 2;

// Row by row, from (2, 2) to the last even coordinate inside right and bottom. A client area
// that is empty or narrower than one step gives no points.
std::vector<GridPoint> sweep_points(const ClientRect& client);

// The pointer position as a mouse message carries it: x in the low word, y in the high word.
std::uint32_t mouse_lparam(GridPoint point);

}  // namespace tray
