// The window is described at 96 DPI; these rules place it at any other DPI. Positions are
// scaled edge by edge, so that controls which touch or keep a gap at 96 DPI still do, and
// every figure goes through the same rounding.
#pragma once

#include <span>
#include <vector>

#include "app/layout.h"

namespace dpi {

inline constexpr int kDesign = 96;

// DPIs outside this range come from no real screen; a message claiming one is ignored.
inline constexpr int kLowest = 48;
inline constexpr int kHighest = 960;
bool usable(int dpi);

// value, given at from_dpi, at to_dpi; halves round away from zero (as MulDiv does).
int scale(int value, int to_dpi, int from_dpi = kDesign);

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};
Rect scale(const Rect& r, int dpi);

struct Size {
  int width = 0, height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// widening: how far the log tab has widened the window, in 96-DPI pixels.
Size window_size(int widening, int dpi);
Rect place(const layout::Control& c, int widening, int dpi);
// Right edges of the status bar parts, laid side by side from the left.
std::vector<int> part_edges(std::span<const layout::StatusPart> parts, int dpi);
int log_font_height(int dpi);

}  // namespace dpi
