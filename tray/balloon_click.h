// What a click on a balloon opens. The shell reports a balloon's life through the icon's callback:
// shown, hidden, timed out, clicked. A balloon the program asks for becomes the one on screen
// only once the shell says it is shown; what the shell reports before that is about the balloon
// it replaced. Balloons asked for in quick succession are shown in the order the shell took them,
// so each "shown" belongs to the oldest balloon taken and not yet shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace tray {

// The shell's balloon notifications (NIN_BALLOONSHOW ... NIN_BALLOONUSERCLICK).
inline constexpr std::int32_t kBalloonShown = 0x402;
inline constexpr std::int32_t kBalloonHidden = 0x403;
inline constexpr std::int32_t kBalloonTimedOut = 0x404;
inline constexpr std::int32_t kBalloonClicked = 0x405;

class BalloonClicks {
 public:
  // Balloons taken by the shell that it may still show; a shell that drops some unshown must not
  // make the list grow without end.
  static constexpr std::size_t kMaxWaiting = 8;

  // A balloon was stored in the icon's record; url is what a click on it opens, empty for
  // nothing. Like the record, it replaces a stored balloon that the shell has not taken yet.
  void requested(std::string url) { stored_ = std::move(url); }
  // The record went to the shell; balloon_pending: whether it still holds a balloon the shell
  // has not taken (it refused the record). Otherwise a stored balloon is now the shell's.
  void sent(bool balloon_pending);
  // An event of the icon: the address to open for a click on the balloon on screen, else empty.
  std::string on_event(std::int32_t code);

 private:
  std::optional<std::string> stored_;
  std::deque<std::string> taken_;  // oldest first
  std::string showing_;
};

}  // namespace tray
