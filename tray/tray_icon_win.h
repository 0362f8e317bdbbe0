// The program's one notification-area icon. It subclasses the owner window to receive the icon's
// callback message and the shell's "TaskbarCreated" broadcast, and passes each as one event code
// to the program's mouse handler. Use it from the UI thread only: a worker thread that wants a
// balloon hands the request to the UI thread first.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/handles_win.h"
#include "tray/notify_record.h"

namespace tray {

// Receives the callback message's lParam (the mouse message over the icon), or one of the codes
// below.
using MouseHandler = void (*)(std::int32_t event_code);

// The shell was restarted and has lost the icon; the handler should call readd().
inline constexpr std::int32_t kEventTaskbarCreated = 1120;
// The owner window got WM_DESTROY; the window's own procedure still sees the message after this.
inline constexpr std::int32_t kEventOwnerDestroyed = 1130;

class TrayIcon {
 public:
  TrayIcon();
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Shows the first image of ico_data (or the owner's small icon when ico_data is empty). A
  // balloon requested before this call is shown with the icon. False when owner is no window.
  bool add_icon(HWND owner, std::span<const unsigned char> ico_data, const std::string& tip);
  // Puts the icon back after the shell lost it, with the current tooltip and image.
  bool readd();
  // Deletes the icon, undoes the subclassing and forgets any balloon not yet shown.
  bool remove_icon();
  bool set_tooltip(const std::string& text);
  // kind: kBalloonNone or kBalloonError, with kBalloonRespectQuietTime or not. The platform hides
  // a balloon whose text is empty.
  bool show_balloon(const std::string& title, const std::string& text, std::uint32_t kind);
  // Whether the user takes notices now, as the shell answers (tray::kUser...); none when it
  // could not answer.
  static std::optional<std::uint32_t> user_state();
  // False, and nothing sent, when ico_data yields no icon.
  bool change_icon(std::span<const unsigned char> ico_data);
  // Subclasses the owner given to add_icon; calling it again only replaces the handler.
  void set_mouse_handler(MouseHandler handler);

  // The image at index of an .ico file image; width and height (optional) receive its
  // directory entry's bytes as stored. Null when the data does not hold that image.
  static win::unique_hicon icon_from_icon_data(std::span<const unsigned char> data, int index = 0,
                                               int* width = nullptr, int* height = nullptr);

  // The toolbar windows that hold the icons; null when the shell has none.
  static HWND find_tray_toolbar();
  static HWND find_overflow_toolbar();
  // Moves the pointer over every icon of the overflow panel (or the taskbar) so that the shell
  // drops icons whose programs ended without deleting them.
  static void sweep_notification_area(bool overflow);

  UINT taskbar_created_message() const { return taskbar_created_; }
  // Whether a balloon is stored that the shell has not taken yet (it refused the last record).
  bool balloon_pending() const { return model_.balloon_pending(); }
  const NotifyRecord& record() const { return model_.record(); }

 private:
  bool send(DWORD message);
  bool add_or_modify();

  UINT taskbar_created_ = 0;
  NotifyModel model_;
  WNDPROC previous_proc_ = nullptr;
  HWND owner_ = nullptr;
  win::unique_hicon icon_;
};

}  // namespace tray
