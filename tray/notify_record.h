// The notification-area record as the shell reads it, and the rules for what each tray
// operation writes into it. Nothing here calls Windows: tray_icon_win.cpp hands the record to
// Shell_NotifyIconA and reports back whether the shell took it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

namespace tray {

// The shell's record as each build hands it over. Field names follow the platform's so that the
// layout can be checked against its header. Handles are as wide as the program's pointers.
//
// The 32-bit program hands over the record's 488-byte form: everything up to dwInfoFlags, no
// guidItem and no hBalloonIcon. The 64-bit program hands over the platform's whole record
// (NOTIFYICONDATAA as a 64-bit program sees it, 528 bytes); a 64-bit shell that is handed a size
// it does not know may refuse the icon.
template <class Handle, class Tail>
struct BasicNotifyRecord {
  std::uint32_t cbSize;
  alignas(Handle) Handle hWnd;
  std::uint32_t uID;
  std::uint32_t uFlags;
  std::uint32_t uCallbackMessage;
  alignas(Handle) Handle hIcon;
  char szTip[128];
  std::uint32_t dwState;
  std::uint32_t dwStateMask;
  char szInfo[256];
  std::uint32_t uTimeout;
  char szInfoTitle[64];
  std::uint32_t dwInfoFlags;
  [[no_unique_address]] Tail tail;
};

struct NoTail {};
// What the whole 64-bit record has after dwInfoFlags; the program leaves both zero.
struct Tail64 {
  unsigned char guidItem[16];
  alignas(8) std::uint64_t hBalloonIcon;
};

using NotifyRecord32 = BasicNotifyRecord<std::uint32_t, NoTail>;
using NotifyRecord64 = BasicNotifyRecord<std::uint64_t, Tail64>;

static_assert(sizeof(NotifyRecord32) == 488);
static_assert(offsetof(NotifyRecord32, cbSize) == 0);
static_assert(offsetof(NotifyRecord32, hWnd) == 4);
static_assert(offsetof(NotifyRecord32, uID) == 8);
static_assert(offsetof(NotifyRecord32, uFlags) == 12);
static_assert(offsetof(NotifyRecord32, uCallbackMessage) == 16);
static_assert(offsetof(NotifyRecord32, hIcon) == 20);
static_assert(offsetof(NotifyRecord32, szTip) == 24);
static_assert(offsetof(NotifyRecord32, dwState) == 152);
static_assert(offsetof(NotifyRecord32, dwStateMask) == 156);
static_assert(offsetof(NotifyRecord32, szInfo) == 160);
static_assert(offsetof(NotifyRecord32, uTimeout) == 416);
static_assert(offsetof(NotifyRecord32, szInfoTitle) == 420);
static_assert(offsetof(NotifyRecord32, dwInfoFlags) == 484);

static_assert(sizeof(NotifyRecord64) == 528);
static_assert(offsetof(NotifyRecord64, cbSize) == 0);
static_assert(offsetof(NotifyRecord64, hWnd) == 8);
static_assert(offsetof(NotifyRecord64, uID) == 16);
static_assert(offsetof(NotifyRecord64, uFlags) == 20);
static_assert(offsetof(NotifyRecord64, uCallbackMessage) == 24);
static_assert(offsetof(NotifyRecord64, hIcon) == 32);
static_assert(offsetof(NotifyRecord64, szTip) == 40);
static_assert(offsetof(NotifyRecord64, dwState) == 168);
static_assert(offsetof(NotifyRecord64, dwStateMask) == 172);
static_assert(offsetof(NotifyRecord64, szInfo) == 176);
static_assert(offsetof(NotifyRecord64, uTimeout) == 432);
static_assert(offsetof(NotifyRecord64, szInfoTitle) == 436);
static_assert(offsetof(NotifyRecord64, dwInfoFlags) == 500);
static_assert(offsetof(NotifyRecord64, tail.guidItem) == 504);
static_assert(offsetof(NotifyRecord64, tail.hBalloonIcon) == 520);

// The form of this build: 32-bit programs keep the 488-byte record, 64-bit ones the whole one.
using NotifyRecord = std::conditional_t<sizeof(void*) == 8, NotifyRecord64, NotifyRecord32>;
using NotifyHandle = decltype(NotifyRecord::hWnd);
static_assert(sizeof(NotifyHandle) == sizeof(void*));

// Values of the platform that the record carries.
inline constexpr std::uint32_t kRecordSize = sizeof(NotifyRecord);
inline constexpr std::uint32_t kIconId = 1;
inline constexpr std::uint32_t kCallbackMessage = 0x2DA5;
inline constexpr std::uint32_t kBalloonTimeoutMs = 10000;
inline constexpr std::uint32_t kFlagMessage = 0x01;  // NIF_MESSAGE
inline constexpr std::uint32_t kFlagIcon = 0x02;     // NIF_ICON
inline constexpr std::uint32_t kFlagTip = 0x04;      // NIF_TIP
inline constexpr std::uint32_t kFlagInfo = 0x10;     // NIF_INFO
inline constexpr std::uint32_t kIconFlags = kFlagMessage | kFlagIcon | kFlagTip;

// Balloon icon kinds (dwInfoFlags).
inline constexpr std::uint32_t kBalloonNone = 0;
inline constexpr std::uint32_t kBalloonError = 3;
// Added to the kind: Windows holds the balloon back while the user is not to be disturbed.
inline constexpr std::uint32_t kBalloonRespectQuietTime = 0x80;

// The shell's answer to whether the user takes notices now (QUERY_USER_NOTIFICATION_STATE).
inline constexpr std::uint32_t kUserNotPresent = 1;  // screen saver, locked, another session
inline constexpr std::uint32_t kUserBusy = 2;
inline constexpr std::uint32_t kUserFullScreen = 3;  // a Direct3D program owns the screen
inline constexpr std::uint32_t kUserPresenting = 4;
inline constexpr std::uint32_t kUserAccepts = 5;
inline constexpr std::uint32_t kUserQuietTime = 6;  // the first hour of a new user's session
inline constexpr std::uint32_t kUserInApp = 7;      // a full-screen app of the Store

enum class BalloonGo { Skip, Show, ShowRespectingQuietTime };
// essential: an error, or the answer to a check the user asked for; notices: the switch
// "显示成功通知"; state: the shell's answer, none when the question failed. Only a user who takes
// notices, or a state the program does not know, gets a balloon as it always did; otherwise only
// an essential one goes out, for Windows to hold as it decides.
BalloonGo balloon_go(bool essential, bool notices, std::optional<std::uint32_t> state);

// Longest texts that fit their buffers with the terminating zero.
inline constexpr std::size_t kMaxTip = sizeof(NotifyRecord::szTip) - 1;
inline constexpr std::size_t kMaxInfo = sizeof(NotifyRecord::szInfo) - 1;
inline constexpr std::size_t kMaxInfoTitle = sizeof(NotifyRecord::szInfoTitle) - 1;

// Owns the record and decides what goes into it before each send. A balloon is sent once: the
// shell shows it whenever NIF_INFO is set, so the flag goes out only while a balloon is stored
// and not yet taken by the shell. Texts are GBK and are cut on whole characters.
//
// Use: call one prepare_* operation, pass record() to the shell, then report the outcome with
// delivered().
class NotifyModel {
 public:
  NotifyModel() = default;

  const NotifyRecord& record() const { return record_; }
  bool balloon_pending() const { return balloon_pending_; }

  // First add of the icon for this owner.
  const NotifyRecord& prepare_add(NotifyHandle owner, NotifyHandle icon, std::string_view tip);
  // Adds the icon again with what the record holds (after the shell lost it).
  const NotifyRecord& prepare_readd();
  const NotifyRecord& prepare_tooltip(std::string_view text);
  const NotifyRecord& prepare_balloon(std::string_view title, std::string_view text,
                                      std::uint32_t kind);
  const NotifyRecord& prepare_change_icon(NotifyHandle icon);
  // Forgets any balloon: a later add must not bring back one meant for an earlier session.
  const NotifyRecord& prepare_remove();

  // The shell's answer to the record last prepared.
  void delivered(bool accepted);

 private:
  void update_flags();

  NotifyRecord record_{};
  // NIF_MESSAGE | NIF_ICON | NIF_TIP once the icon has been set up; 0 before.
  std::uint32_t icon_flags_ = 0;
  bool balloon_pending_ = false;
};

// One image named by the directory of an .ico file image.
struct IcoImage {
  std::span<const unsigned char> bytes;
  std::uint8_t width = 0;   // as stored: 0 means 256
  std::uint8_t height = 0;  // as stored: 0 means 256
};

// The image at `index` of an .ico file image, or nothing when the data is too short for the
// directory entry or for the image it names, or the image is empty. Never reads past the data.
std::optional<IcoImage> find_ico_image(std::span<const unsigned char> data, std::size_t index);

}  // namespace tray
