#include "app/log_box_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <utility>

#include "app/messages.h"
#include "platform/handles_win.h"
#include "platform/program_win.h"
#include "server/server_log.h"

namespace {

// The edit box's own timers keep their ids; this one is the log's.
constexpr UINT_PTR kStepTimer = 0x4C47;
constexpr UINT_PTR kSubclassId = 0x4C47;

}  // namespace

LogBox::~LogBox() {
  if (edit_ != nullptr) ::RemoveWindowSubclass(edit_, edit_proc, kSubclassId);
}

LRESULT CALLBACK LogBox::edit_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, UINT_PTR,
                                   DWORD_PTR data) {
  auto* self = reinterpret_cast<LogBox*>(data);
  if (message == msg::kConsoleOutput) {
    self->on_notice(wp);
    return 0;
  }
  if (message == WM_TIMER && wp == kStepTimer) {
    self->on_step_timer();
    return 0;
  }
  if (message == WM_CONTEXTMENU) {
    self->context_menu(lp);
    return 0;
  }
  // A multi-line box selects all on Ctrl+A only on some versions of Windows; the log always does.
  if (message == WM_KEYDOWN && wp == 'A' && (::GetKeyState(VK_CONTROL) & 0x8000) != 0 &&
      (::GetKeyState(VK_MENU) & 0x8000) == 0) {
    ::SendMessageA(hwnd, EM_SETSEL, 0, -1);
    return 0;
  }
  if (message == WM_CHAR && wp == 1) return 0;  // Ctrl+A's character: no beep
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(hwnd, edit_proc, kSubclassId);
    self->edit_ = nullptr;
  }
  return ::DefSubclassProc(hwnd, message, wp, lp);
}

void LogBox::context_menu(LPARAM lp) {
  if (edit_ == nullptr) return;
  POINT at{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
  if (lp == -1) {
    // From the keyboard: below the caret, as the system's own edit menu opens.
    ::GetCaretPos(&at);
    at.y += 16;
    ::ClientToScreen(edit_, &at);
  }
  const win::unique_hmenu menu(::CreatePopupMenu());
  if (!menu) return;
  DWORD from = 0, to = 0;
  ::SendMessageA(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  for (const layout::MenuItem& item : layout::log_menu()) {
    if (item.flags & layout::kMenuSeparator) {
      ::AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
      continue;
    }
    const bool greyed = item.id == layout::日志_复制 && from == to;
    ::AppendMenuA(menu.get(), MF_STRING | (greyed ? MF_GRAYED : 0), item.id, item.text);
  }
  const int chosen = static_cast<int>(
      ::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, edit_, nullptr));
  switch (chosen) {
    case layout::日志_复制:
      ::SendMessageA(edit_, WM_COPY, 0, 0);
      break;
    case layout::日志_全选:
      ::SendMessageA(edit_, EM_SETSEL, 0, -1);
      break;
    case layout::日志_清空:
      // The tab only: logs\server.log keeps everything, and output goes on arriving.
      clear();
      break;
    case layout::日志_打开日志文件夹:
      open_logs_folder();
      break;
    default:
      break;
  }
}

void LogBox::open_logs_folder() const {
  const std::string folder = program::directory() + "\\" + server_log::kFolder;
  ::CreateDirectoryA(folder.c_str(), nullptr);
  // Only a folder is opened, and only to be shown: a file of that name (planted or not) is never
  // started.
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return;
  ::ShellExecuteA(nullptr, "explore", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void LogBox::attach(HWND edit) {
  edit_ = edit;
  ::SetWindowSubclass(edit_, edit_proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  // One double-byte character tells the box's units: two in bytes, one in UTF-16 units.
  ::SetWindowTextA(edit_, "中");
  byte_units_ = ::SendMessageA(edit_, EM_LINELENGTH, 0, 0) == 2;
  clear();
}

std::shared_ptr<console::Inbox> LogBox::new_inbox() {
  if (edit_ == nullptr) return nullptr;
  inbox_ = std::make_shared<console::Inbox>(edit_, msg::kConsoleOutput);
  return inbox_;
}

void LogBox::clear() {
  if (edit_ == nullptr) return;
  ::SetWindowTextA(edit_, "");
  box_units_ = 0;
  mirror_.clear();
  stop_timer();
}

void LogBox::stop_timer() {
  if (std::exchange(step_due_, false)) ::KillTimer(edit_, kStepTimer);
}

void LogBox::on_notice(WPARAM inbox) {
  // While a step of the log is due, the output waits for it in the inbox.
  if (!inbox_ || reinterpret_cast<WPARAM>(inbox_.get()) != inbox || step_due_) return;
  output(inbox_->take_all(), false);
}

void LogBox::on_step_timer() {
  // The timer is one-shot: output() arms it again while the box is behind.
  stop_timer();
  output(inbox_ ? inbox_->take_all() : std::string(), true);
}

std::size_t LogBox::units(std::string_view text) const {
  if (byte_units_ || text.empty()) return text.size();
  const int n =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  return n > 0 ? static_cast<std::size_t>(n) : text.size();
}

void LogBox::output(std::string_view text, bool stepping) {
  if (edit_ == nullptr) return;
  stop_timer();
  mirror_.add(text);
  const logbox::LogPace pace = logbox::log_pace(::IsWindowVisible(edit_) != FALSE,
                                                text.size() > logbox::kSliceBytes, stepping);
  if (pace.step) step(pace.slice_bytes);
  if (!mirror_.synced()) step_due_ = ::SetTimer(edit_, kStepTimer, pace.next_ms, nullptr) != 0;
}

void LogBox::step(std::size_t max_bytes) {
  // A cut and an append never share a step: each alone can hold a shown box for tens of
  // milliseconds.
  const logbox::LogMirror::Step s = mirror_.next(max_bytes);
  switch (s.kind) {
    case logbox::LogMirror::Step::Kind::kClear:
      ::SetWindowTextA(edit_, "");
      box_units_ = 0;
      break;
    case logbox::LogMirror::Step::Kind::kCut: {
      const std::size_t cut = units(s.text);
      ::SendMessageA(edit_, EM_SETSEL, 0, static_cast<LPARAM>(cut));
      ::SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
      box_units_ -= cut;
      break;
    }
    case logbox::LogMirror::Step::Kind::kAppend: {
      // EM_REPLACESEL reads up to a NUL: the slice is copied to get one.
      const std::string slice(s.text);
      const auto end = static_cast<WPARAM>(box_units_);
      ::SendMessageA(edit_, EM_SETSEL, end, static_cast<LPARAM>(end));
      ::SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(slice.c_str()));
      ::SendMessageA(edit_, EM_SCROLLCARET, 0, 0);
      box_units_ += units(slice);
      break;
    }
    case logbox::LogMirror::Step::Kind::kNone:
      break;
  }
}
