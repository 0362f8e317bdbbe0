#include "tray/balloon_click.h"

#include <gtest/gtest.h>

using namespace tray;

TEST(BalloonClicks, ClickOpensTheAddressOfTheBalloonOnScreenOnce) {
  BalloonClicks b;
  b.requested("http://127.0.0.1:8888");
  EXPECT_EQ(b.on_event(kBalloonClicked), "") << "not shown yet";
  EXPECT_EQ(b.on_event(kBalloonShown), "");
  EXPECT_EQ(b.on_event(0x200), "");  // a mouse move over the icon changes nothing
  EXPECT_EQ(b.on_event(kBalloonClicked), "http://127.0.0.1:8888");
  EXPECT_EQ(b.on_event(kBalloonClicked), "");
}

TEST(BalloonClicks, ReplacedOrGoneBalloonsOpenNothing) {
  BalloonClicks b;
  b.requested("http://a");
  b.on_event(kBalloonShown);
  // A stop balloon replaces the start balloon: the shell first says the old one went.
  b.requested("");
  b.on_event(kBalloonTimedOut);
  b.on_event(kBalloonShown);
  EXPECT_EQ(b.on_event(kBalloonClicked), "");

  b.requested("http://b");
  b.on_event(kBalloonShown);
  b.on_event(kBalloonTimedOut);
  EXPECT_EQ(b.on_event(kBalloonClicked), "");

  b.requested("http://c");
  b.on_event(kBalloonShown);
  b.on_event(kBalloonHidden);
  EXPECT_EQ(b.on_event(kBalloonClicked), "");
}

TEST(BalloonClicks, ReportOfTheOldBalloonDoesNotClearTheNewOne) {
  BalloonClicks b;
  b.requested("http://old");
  b.on_event(kBalloonShown);
  b.requested("http://new");
  b.on_event(kBalloonTimedOut);  // about the old balloon
  b.on_event(kBalloonShown);
  EXPECT_EQ(b.on_event(kBalloonClicked), "http://new");
}
