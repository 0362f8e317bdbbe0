#include "app/log_box_win.h"

#include <commctrl.h>

#include <utility>

#include "app/messages.h"

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
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(hwnd, edit_proc, kSubclassId);
    self->edit_ = nullptr;
  }
  return ::DefSubclassProc(hwnd, message, wp, lp);
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
  output(inbox_->take_all());
}

void LogBox::on_step_timer() {
  // The timer is one-shot: output() arms it again while the box is behind.
  stop_timer();
  output(inbox_ ? inbox_->take_all() : std::string());
}

std::size_t LogBox::units(std::string_view text) const {
  if (byte_units_ || text.empty()) return text.size();
  const int n =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  return n > 0 ? static_cast<std::size_t>(n) : text.size();
}

void LogBox::output(std::string_view text) {
  if (edit_ == nullptr) return;
  stop_timer();
  mirror_.add(text);
  const logbox::LogPace pace =
      logbox::log_pace(::IsWindowVisible(edit_) != FALSE, text.size() > logbox::kSliceBytes);
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
