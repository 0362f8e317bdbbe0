// What a click on a balloon opens. The shell reports a balloon's life through the icon's callback:
// shown, hidden, timed out, clicked. A balloon the program asks for becomes the one on screen
// only once the shell says it is shown; what the shell reports before that is about the balloon
// it replaced.
#pragma once

#include <cstdint>
#include <string>

namespace tray {

// The shell's balloon notifications (NIN_BALLOONSHOW ... NIN_BALLOONUSERCLICK).
inline constexpr std::int32_t kBalloonShown = 0x402;
inline constexpr std::int32_t kBalloonHidden = 0x403;
inline constexpr std::int32_t kBalloonTimedOut = 0x404;
inline constexpr std::int32_t kBalloonClicked = 0x405;

class BalloonClicks {
 public:
  // A balloon was asked for; url is what a click on it opens, empty for nothing.
  void requested(std::string url) { requested_ = std::move(url); }
  // An event of the icon: the address to open for a click on the balloon on screen, else empty.
  std::string on_event(std::int32_t code);

 private:
  std::string requested_;
  std::string showing_;
};

}  // namespace tray
