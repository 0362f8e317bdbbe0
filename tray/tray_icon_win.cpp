#include "tray/tray_icon_win.h"

#include <shellapi.h>

#include <cstddef>
#include <type_traits>

#include "tray/sweep.h"

namespace tray {

// The record is handed to the shell as the platform's own record: every field where the
// platform's header puts it, handles at pointer width.
#define RMT_SAME_OFFSET(field) \
  static_assert(offsetof(NOTIFYICONDATAA, field) == offsetof(NotifyRecord, field), #field)
RMT_SAME_OFFSET(cbSize);
RMT_SAME_OFFSET(hWnd);
RMT_SAME_OFFSET(uID);
RMT_SAME_OFFSET(uFlags);
RMT_SAME_OFFSET(uCallbackMessage);
RMT_SAME_OFFSET(hIcon);
RMT_SAME_OFFSET(szTip);
RMT_SAME_OFFSET(dwState);
RMT_SAME_OFFSET(dwStateMask);
RMT_SAME_OFFSET(szInfo);
RMT_SAME_OFFSET(uTimeout);
RMT_SAME_OFFSET(szInfoTitle);
RMT_SAME_OFFSET(dwInfoFlags);
#undef RMT_SAME_OFFSET
static_assert(sizeof(NotifyHandle) == sizeof(HWND) && sizeof(NotifyHandle) == sizeof(HICON));
#if defined(_WIN64)
// The 64-bit program hands over the whole record.
static_assert(std::is_same_v<NotifyRecord, NotifyRecord64>);
static_assert(sizeof(NOTIFYICONDATAA) == sizeof(NotifyRecord));
static_assert(offsetof(NOTIFYICONDATAA, guidItem) == offsetof(NotifyRecord, tail.guidItem));
static_assert(offsetof(NOTIFYICONDATAA, hBalloonIcon) == offsetof(NotifyRecord, tail.hBalloonIcon));
#else
// The 32-bit program hands over the 488-byte form, which ends where guidItem begins.
static_assert(std::is_same_v<NotifyRecord, NotifyRecord32>);
static_assert(offsetof(NOTIFYICONDATAA, guidItem) == sizeof(NotifyRecord));
#endif
static_assert(NIF_MESSAGE == kFlagMessage && NIF_ICON == kFlagIcon && NIF_TIP == kFlagTip &&
              NIF_INFO == kFlagInfo);
static_assert(NIIF_NONE == kBalloonNone && NIIF_ERROR == kBalloonError &&
              NIIF_RESPECT_QUIET_TIME == kBalloonRespectQuietTime);
static_assert(QUNS_NOT_PRESENT == kUserNotPresent && QUNS_BUSY == kUserBusy &&
              QUNS_RUNNING_D3D_FULL_SCREEN == kUserFullScreen &&
              QUNS_PRESENTATION_MODE == kUserPresenting &&
              QUNS_ACCEPTS_NOTIFICATIONS == kUserAccepts && QUNS_QUIET_TIME == kUserQuietTime);
// QUNS_APP (7, from Windows 8 on) is beyond the headers of the Windows 7 the program builds for.

namespace {

// The tray procedure keeps no state: everything it needs lives in these window properties, so
// it serves any window that set_mouse_handler prepared.
constexpr char kPropWinProc[] = "WinProc";
constexpr char kPropCallback[] = "CallbackMessage";
constexpr char kPropTaskbarCreated[] = "TaskbarCreatedMessage";
constexpr char kPropHandler[] = "Exec Event";

// Each move is a cross-process send to the shell's thread: a hung shell must not hold up exit.
constexpr UINT kSweepSendTimeoutMs = 100;

NotifyHandle handle_bits(const void* handle) {
  return static_cast<NotifyHandle>(reinterpret_cast<std::uintptr_t>(handle));
}

UINT prop_number(HWND hwnd, const char* name) {
  return static_cast<UINT>(reinterpret_cast<UINT_PTR>(GetPropA(hwnd, name)));
}

HANDLE number_prop(UINT value) { return reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(value)); }

void notify(MouseHandler handler, std::int32_t code) noexcept {
  try {
    handler(code);
  } catch (...) {
    // Nothing may unwind through the window procedure; the event is dropped.
  }
}

LRESULT CALLBACK tray_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  const auto previous = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kPropWinProc));
  const UINT callback = prop_number(hwnd, kPropCallback);
  const UINT taskbar_created = prop_number(hwnd, kPropTaskbarCreated);
  const auto handler = reinterpret_cast<MouseHandler>(GetPropA(hwnd, kPropHandler));
  if (handler != nullptr) {
    if (callback != 0 && message == callback) {
      notify(handler, static_cast<std::int32_t>(lparam));
      return 0;
    }
    if (taskbar_created != 0 && message == taskbar_created) {
      notify(handler, kEventTaskbarCreated);
      return 0;
    }
    if (message == WM_DESTROY) notify(handler, kEventOwnerDestroyed);
  }
  if (previous == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
  return CallWindowProcA(previous, hwnd, message, wparam, lparam);
}

bool runs_tray_proc(HWND hwnd) {
  return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) == &tray_window_proc;
}

void remove_props(HWND hwnd) {
  for (const char* name : {kPropWinProc, kPropCallback, kPropTaskbarCreated, kPropHandler}) {
    RemovePropA(hwnd, name);
  }
}

// Stops at the first missing window: searching with a null parent would look among all
// top-level windows and could pick another program's toolbar.
HWND find_path(const char* top_class, std::initializer_list<const char*> child_classes) {
  HWND window = FindWindowA(top_class, nullptr);
  for (const char* child_class : child_classes) {
    if (window == nullptr) return nullptr;
    window = FindWindowExA(window, nullptr, child_class, nullptr);
  }
  return window;
}

}  // namespace

TrayIcon::TrayIcon() : taskbar_created_(RegisterWindowMessageA("TaskbarCreated")) {}

TrayIcon::~TrayIcon() { remove_icon(); }

bool TrayIcon::add_icon(HWND owner, std::span<const unsigned char> ico_data,
                        const std::string& tip) {
  if (!IsWindow(owner)) return false;
  owner_ = owner;
  win::unique_hicon made;
  HICON icon = nullptr;
  if (ico_data.empty()) {
    // The window's own icon stays the window's: it is not ours to destroy.
    icon = reinterpret_cast<HICON>(SendMessageA(owner, WM_GETICON, ICON_SMALL, 0));
  } else {
    made = icon_from_icon_data(ico_data, 0);
    icon = made.get();
  }
  model_.prepare_add(handle_bits(owner), handle_bits(icon), tip);
  const bool added = add_or_modify();
  // The shell has its own copy now; an icon made for an earlier add may go.
  icon_ = std::move(made);
  return added;
}

bool TrayIcon::readd() {
  if (!IsWindow(owner_)) return false;
  model_.prepare_readd();
  return add_or_modify();
}

bool TrayIcon::remove_icon() {
  // Someone who subclassed after us still calls our procedure: then the properties must stay.
  if (previous_proc_ != nullptr && IsWindow(owner_) && runs_tray_proc(owner_)) {
    SetWindowLongPtrA(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_proc_));
    remove_props(owner_);
  }
  owner_ = nullptr;
  previous_proc_ = nullptr;
  model_.prepare_remove();
  const bool removed = send(NIM_DELETE);
  icon_.reset();
  return removed;
}

bool TrayIcon::set_tooltip(const std::string& text) {
  model_.prepare_tooltip(text);
  // Without an icon the shell is not asked: its answer would hold up the caller for nothing.
  return owner_ != nullptr && send(NIM_MODIFY);
}

bool TrayIcon::show_balloon(const std::string& title, const std::string& text, std::uint32_t kind) {
  model_.prepare_balloon(title, text, kind);
  return send(NIM_MODIFY);
}

std::optional<std::uint32_t> TrayIcon::user_state() {
  QUERY_USER_NOTIFICATION_STATE state{};
  if (FAILED(SHQueryUserNotificationState(&state))) return std::nullopt;
  return static_cast<std::uint32_t>(state);
}

bool TrayIcon::change_icon(std::span<const unsigned char> ico_data) {
  win::unique_hicon made = icon_from_icon_data(ico_data, 0);
  if (!made) return false;
  model_.prepare_change_icon(handle_bits(made.get()));
  const bool changed = send(NIM_MODIFY);
  icon_ = std::move(made);
  return changed;
}

void TrayIcon::set_mouse_handler(MouseHandler handler) {
  if (!IsWindow(owner_)) return;
  // A second subclassing would make the tray procedure its own predecessor.
  if (!runs_tray_proc(owner_)) {
    previous_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&tray_window_proc)));
    SetPropA(owner_, kPropWinProc, reinterpret_cast<HANDLE>(previous_proc_));
    SetPropA(owner_, kPropCallback, number_prop(kCallbackMessage));
    SetPropA(owner_, kPropTaskbarCreated, number_prop(taskbar_created_));
    // An elevated program would otherwise never hear that the shell restarted.
    ChangeWindowMessageFilterEx(owner_, taskbar_created_, MSGFLT_ALLOW, nullptr);
  }
  if (handler != nullptr) {
    SetPropA(owner_, kPropHandler, reinterpret_cast<HANDLE>(handler));
  } else {
    RemovePropA(owner_, kPropHandler);
  }
}

win::unique_hicon TrayIcon::icon_from_icon_data(std::span<const unsigned char> data, int index,
                                                int* width, int* height) {
  if (index < 0) return {};
  const std::optional<IcoImage> image = find_ico_image(data, static_cast<std::size_t>(index));
  if (!image) return {};
  if (width != nullptr) *width = image->width;
  if (height != nullptr) *height = image->height;
  // CreateIconFromResource only reads the bytes; its parameter is merely not declared const.
  auto* bytes = const_cast<PBYTE>(image->bytes.data());
  return win::unique_hicon(
      CreateIconFromResource(bytes, static_cast<DWORD>(image->bytes.size()), TRUE, 0x00030000));
}

HWND TrayIcon::find_tray_toolbar() {
  return find_path("Shell_TrayWnd", {"TrayNotifyWnd", "SysPager", "ToolbarWindow32"});
}

HWND TrayIcon::find_overflow_toolbar() {
  return find_path("NotifyIconOverflowWindow", {"ToolbarWindow32"});
}

void TrayIcon::sweep_notification_area(bool overflow) {
  const HWND target = overflow ? find_overflow_toolbar() : find_tray_toolbar();
  if (target == nullptr) return;
  RECT client{};
  if (!GetClientRect(target, &client)) return;
  for (const GridPoint point :
       sweep_points({client.left, client.top, client.right, client.bottom})) {
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutA(target, WM_MOUSEMOVE, 0, static_cast<LPARAM>(mouse_lparam(point)),
                            SMTO_ABORTIFHUNG, kSweepSendTimeoutMs, &ignored) == 0) {
      return;
    }
  }
}

bool TrayIcon::send(DWORD message) {
  // The shell reads the form named by cbSize; a copy keeps the model's record ours.
  NotifyRecord outgoing = model_.record();
  const bool accepted =
      Shell_NotifyIconA(message, reinterpret_cast<NOTIFYICONDATAA*>(&outgoing)) != FALSE;
  model_.delivered(accepted);
  return accepted;
}

// A shell that still shows the icon refuses NIM_ADD; then updating it is what was wanted.
bool TrayIcon::add_or_modify() { return send(NIM_ADD) || send(NIM_MODIFY); }

}  // namespace tray
