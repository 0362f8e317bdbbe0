#include "tray/balloon_click.h"

#include <utility>

namespace tray {

void BalloonClicks::sent(bool balloon_pending) {
  if (balloon_pending || !stored_) return;
  if (taken_.size() == kMaxWaiting) taken_.pop_front();
  taken_.push_back(std::move(*stored_));
  stored_.reset();
}

std::string BalloonClicks::on_event(std::int32_t code) {
  switch (code) {
    case kBalloonShown:
      // With nothing taken, the shell speaks again of the balloon on screen (or of one from
      // before this program's count): what it opens stays as it is.
      if (!taken_.empty()) {
        showing_ = std::move(taken_.front());
        taken_.pop_front();
      }
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
