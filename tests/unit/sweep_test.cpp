#include "tray/sweep.h"

#include <gtest/gtest.h>

namespace tray {
namespace {

TEST(SweepPoints, CoversTheClientAreaRowByRowInStepsOfTwo) {
  const auto points = sweep_points({0, 0, 10, 6});
  ASSERT_EQ(points.size(), 15u);
  EXPECT_EQ(points.front(), (GridPoint{2, 2}));
  EXPECT_EQ(points[1], (GridPoint{4, 2}));
  EXPECT_EQ(points[5], (GridPoint{2, 4}));
  EXPECT_EQ(points.back(), (GridPoint{10, 6}));
}

TEST(SweepPoints, OddSizesStopAtTheLastEvenCoordinate) {
  EXPECT_EQ(sweep_points({0, 0, 11, 7}), sweep_points({0, 0, 10, 6}));
  EXPECT_EQ(sweep_points({0, 0, 120, 80}).size(), 2400u);
}

TEST(SweepPoints, NoneForAnAreaNarrowerThanOneStep) {
  EXPECT_TRUE(sweep_points({0, 0, 1, 80}).empty());
  EXPECT_TRUE(sweep_points({0, 0, 120, 1}).empty());
  EXPECT_TRUE(sweep_points({}).empty());
  EXPECT_TRUE(sweep_points({0, 0, -10, -6}).empty());
}

TEST(SweepPoints, MousePositionPacksXLowAndYHigh) {
  EXPECT_EQ(mouse_lparam({10, 6}), 0x0006000Au);
  EXPECT_EQ(mouse_lparam({0xFFFE, 0x1234}), 0x1234FFFEu);
}

}  // namespace
}  // namespace tray
