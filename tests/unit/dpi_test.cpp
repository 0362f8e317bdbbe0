#include "app/dpi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

using namespace dpi;

namespace dpi {
void PrintTo(const Rect& r, std::ostream* os) {
  *os << r.x << "," << r.y << " " << r.width << "x" << r.height;
}
}  // namespace dpi

TEST(Dpi, ScaleRoundsHalvesAwayFromZeroAndConvertsBack) {
  EXPECT_EQ(scale(410, 96), 410);
  EXPECT_EQ(scale(410, 144), 615);
  EXPECT_EQ(scale(410, 192), 820);
  EXPECT_EQ(scale(1, 144), 2);    // 1.5
  EXPECT_EQ(scale(-1, 144), -2);  // the log tab narrows by what it widened
  EXPECT_EQ(scale(2, 120), 3);    // 2.5
  EXPECT_EQ(scale(3, 120), 4);    // 3.75
  EXPECT_EQ(scale(5, 120), 6);    // 6.25
  EXPECT_EQ(scale(-200, 120), -250);
  EXPECT_EQ(scale(-18, 96, 144), -12);  // a system-DPI figure brought to another DPI
  EXPECT_EQ(scale(7, 96, 0), 7);
}

TEST(Dpi, AtDesignDpiEverythingStaysAsDescribed) {
  EXPECT_EQ(window_size(0, 96), (Size{layout::kWidth, layout::kHeight}));
  EXPECT_EQ(window_size(layout::kLogWidening, 96), (Size{610, 370}));
  for (const auto& c : layout::controls()) {
    EXPECT_EQ(place(c, 0, 96), (Rect{c.x, c.y, c.width, c.height})) << c.id;
  }
  EXPECT_EQ(part_edges(layout::status_parts(), 96), (std::vector<int>{120, 520}));
  EXPECT_EQ(log_font_height(96), layout::kLogFontHeight);
}

TEST(Dpi, OneAndAHalfAndTwiceTheDescription) {
  for (int dpi : {144, 192}) {
    SCOPED_TRACE(dpi);
    for (const auto& c : layout::controls()) {
      // The status bar docks itself; its designed width is the one odd figure.
      if (c.kind == layout::Kind::StatusBar) continue;
      const Rect r = place(c, 0, dpi);
      // Every other figure of the description is even, so both factors come out exact.
      EXPECT_EQ(r, (Rect{c.x * dpi / 96, c.y * dpi / 96, c.width * dpi / 96, c.height * dpi / 96}))
          << c.id;
    }
    EXPECT_EQ(part_edges(layout::status_parts(), dpi),
              (std::vector<int>{120 * dpi / 96, 520 * dpi / 96}));
    EXPECT_EQ(log_font_height(dpi), 12 * dpi / 96);
  }
  // Only the tab control and the log widen with the log tab, by the scaled widening.
  const auto* tab = layout::find(layout::选择夹1);
  const auto* log = layout::find(layout::编辑框_日志);
  const auto* group = layout::find(layout::分组框1);
  EXPECT_EQ(window_size(layout::kLogWidening, 144), (Size{915, 555}));
  EXPECT_EQ(place(*tab, layout::kLogWidening, 144), (Rect{18, 6, 870, 474}));
  EXPECT_EQ(place(*log, layout::kLogWidening, 192), (Rect{0, 40, 1160, 592}));
  EXPECT_EQ(place(*group, layout::kLogWidening, 144), place(*group, 0, 144));
}

// Sizes rounded one by one would open or close gaps between neighbours at DPIs such as 120
// (125%) or 168 (175%); edges rounded keep every touching pair touching and every gap open.
TEST(Dpi, NeighboursKeepTheirGapsAtEveryDpi) {
  const auto controls = layout::controls();
  for (int dpi = 72; dpi <= 480; ++dpi) {
    for (const auto& a : controls) {
      for (const auto& b : controls) {
        if (a.parent != b.parent || a.id == b.id) continue;
        const Rect ra = place(a, 0, dpi), rb = place(b, 0, dpi);
        const int gap96 = b.x - (a.x + a.width);
        const int gap = rb.x - (ra.x + ra.width);
        if (gap96 == 0) {
          ASSERT_EQ(gap, 0) << a.id << " and " << b.id << " at " << dpi;
        } else if (gap96 > 0) {
          ASSERT_GT(gap, 0) << a.id << " and " << b.id << " at " << dpi;
        }
        ASSERT_LE(std::abs(ra.width * 96 - a.width * dpi), 96) << a.id << " at " << dpi;
      }
    }
    const auto edges = part_edges(layout::status_parts(), dpi);
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_LT(edges[0], edges[1]);
  }
}

TEST(Dpi, OnlyScreenLikeDpisAreUsable) {
  EXPECT_FALSE(usable(0));
  EXPECT_FALSE(usable(47));
  EXPECT_TRUE(usable(96));
  EXPECT_TRUE(usable(120));
  EXPECT_TRUE(usable(480));
  EXPECT_FALSE(usable(961));
  EXPECT_FALSE(usable(65535));
}
