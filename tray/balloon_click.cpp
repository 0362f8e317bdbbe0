#include "tray/balloon_click.h"

#include <utility>

namespace tray {

std::string BalloonClicks::on_event(std::int32_t code) {
  switch (code) {
    case kBalloonShown:
      showing_ = std::exchange(requested_, std::string());
      return {};
    case kBalloonHidden:
    case kBalloonTimedOut:
      showing_.clear();
      return {};
    case kBalloonClicked:
      // A balloon goes with its click: a second click opens nothing.
      return std::exchange(showing_, std::string());
    default:
      return {};
  }
}

}  // namespace tray
