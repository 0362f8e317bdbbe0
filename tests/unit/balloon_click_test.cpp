#include "tray/balloon_click.h"

#include <gtest/gtest.h>

#include <string>

using namespace tray;

namespace {

// A balloon asked for and taken by the shell at once.
void shown_later(BalloonClicks& b, const std::string& url) {
  b.requested(url);
  b.sent(false);
}

}  // namespace

TEST(BalloonClicks, ClickOpensTheAddressOfTheBalloonOnScreenOnce) {
  BalloonClicks b;
  shown_later(b, "http://127.0.0.1:8888");
  EXPECT_EQ(b.on_event(kBalloonClicked), "") << "not shown yet";
  EXPECT_EQ(b.on_event(kBalloonShown), "");
  EXPECT_EQ(b.on_event(0x200), "");          // a mouse move over the icon changes nothing
  EXPECT_EQ(b.on_event(kBalloonShown), "");  // said once more of the same balloon
  EXPECT_EQ(b.on_event(kBalloonClicked), "http://127.0.0.1:8888");
  EXPECT_EQ(b.on_event(kBalloonClicked), "");
}

TEST(BalloonClicks, ReplacedOrGoneBalloonsOpenNothing) {
  BalloonClicks b;
  shown_later(b, "http://a");
  b.on_event(kBalloonShown);
  // A stop balloon replaces the start balloon: the shell first says the old one went.
  shown_later(b, "");
  b.on_event(kBalloonTimedOut);
  b.on_event(kBalloonShown);
  EXPECT_EQ(b.on_event(kBalloonClicked), "");

  shown_later(b, "http://b");
  b.on_event(kBalloonShown);
  b.on_event(kBalloonTimedOut);
  EXPECT_EQ(b.on_event(kBalloonClicked), "");

  shown_later(b, "http://c");
  b.on_event(kBalloonShown);
  b.on_event(kBalloonHidden);
  EXPECT_EQ(b.on_event(kBalloonClicked), "");
}

TEST(BalloonClicks, ReportOfTheOldBalloonDoesNotClearTheNewOne) {
  BalloonClicks b;
  shown_later(b, "http://old");
  b.on_event(kBalloonShown);
  shown_later(b, "http://new");
  b.on_event(kBalloonTimedOut);  // about the old balloon
  b.on_event(kBalloonShown);
  EXPECT_EQ(b.on_event(kBalloonClicked), "http://new");
}

TEST(BalloonClicks, BalloonsInQuickSuccessionEachOpenTheirOwnAddress) {
  {
    SCOPED_TRACE("two: a stop balloon, then a start balloon before the first is shown");
    BalloonClicks b;
    shown_later(b, "");
    shown_later(b, "http://127.0.0.1:9000");
    b.on_event(kBalloonShown);
    EXPECT_EQ(b.on_event(kBalloonClicked), "");
    b.on_event(kBalloonShown);
    EXPECT_EQ(b.on_event(kBalloonClicked), "http://127.0.0.1:9000");
  }
  {
    SCOPED_TRACE("three, each replacing the one before on screen");
    BalloonClicks b;
    shown_later(b, "http://1");
    shown_later(b, "");
    shown_later(b, "http://3");
    b.on_event(kBalloonShown);
    b.on_event(kBalloonHidden);
    b.on_event(kBalloonShown);
    EXPECT_EQ(b.on_event(kBalloonClicked), "");
    b.on_event(kBalloonShown);
    EXPECT_EQ(b.on_event(kBalloonClicked), "http://3");
  }
  {
    SCOPED_TRACE("three, the first clicked before the others are shown");
    BalloonClicks b;
    shown_later(b, "http://1");
    shown_later(b, "http://2");
    b.on_event(kBalloonShown);
    shown_later(b, "");
    EXPECT_EQ(b.on_event(kBalloonClicked), "http://1");
    b.on_event(kBalloonShown);
    EXPECT_EQ(b.on_event(kBalloonClicked), "http://2");
    b.on_event(kBalloonShown);
    EXPECT_EQ(b.on_event(kBalloonClicked), "");
  }
}

TEST(BalloonClicks, ARefusedBalloonCountsOnceTheShellTakesItOrIsReplaced) {
  BalloonClicks b;
  b.requested("http://refused");
  b.sent(true);
  b.on_event(kBalloonShown);  // about some earlier balloon
  EXPECT_EQ(b.on_event(kBalloonClicked), "");
  // A newer balloon replaces it in the record before any send took it.
  b.requested("http://newer");
  b.sent(true);
  b.sent(false);  // a tooltip change carried it
  b.sent(false);  // and later sends carry no balloon
  b.on_event(kBalloonShown);
  EXPECT_EQ(b.on_event(kBalloonClicked), "http://newer");
  b.on_event(kBalloonShown);
  EXPECT_EQ(b.on_event(kBalloonClicked), "");
}

TEST(BalloonClicks, BalloonsNeverShownAreForgottenOldestFirst) {
  BalloonClicks b;
  for (std::size_t i = 0; i < BalloonClicks::kMaxWaiting + 2; ++i) {
    shown_later(b, "http://" + std::to_string(i));
  }
  b.on_event(kBalloonShown);
  EXPECT_EQ(b.on_event(kBalloonClicked), "http://2");
}
