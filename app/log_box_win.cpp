#include "app/log_box_win.h"

#include <utility>

void LogBox::attach(HWND edit) {
  edit_ = edit;
  // One double-byte character tells the box's units: two in bytes, one in UTF-16 units.
  ::SetWindowTextA(edit_, "中");
  byte_units_ = ::SendMessageA(edit_, EM_LINELENGTH, 0, 0) == 2;
  clear();
}

void LogBox::clear() {
  if (edit_ == nullptr) return;
  ::SetWindowTextA(edit_, "");
  box_units_ = 0;
  mirror_.clear();
  if (std::exchange(step_due_, false)) ::KillTimer(::GetAncestor(edit_, GA_ROOT), kStepTimer);
}

std::size_t LogBox::units(std::string_view text) const {
  if (byte_units_ || text.empty()) return text.size();
  const int n =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  return n > 0 ? static_cast<std::size_t>(n) : text.size();
}

void LogBox::output(std::string_view text) {
  if (edit_ == nullptr) return;
  const HWND window = ::GetAncestor(edit_, GA_ROOT);
  if (std::exchange(step_due_, false)) ::KillTimer(window, kStepTimer);
  mirror_.add(text);
  const console::LogPace pace =
      console::log_pace(::IsWindowVisible(edit_) != FALSE, text.size() > console::kSliceBytes);
  if (pace.step) step(pace.slice_bytes);
  if (!mirror_.synced()) step_due_ = ::SetTimer(window, kStepTimer, pace.next_ms, nullptr) != 0;
}

void LogBox::step(std::size_t max_bytes) {
  // A cut and an append never share a step: each alone can hold a shown box for tens of
  // milliseconds.
  const console::LogMirror::Step s = mirror_.next(max_bytes);
  switch (s.kind) {
    case console::LogMirror::Step::Kind::kClear:
      ::SetWindowTextA(edit_, "");
      box_units_ = 0;
      break;
    case console::LogMirror::Step::Kind::kCut: {
      const std::size_t cut = units(s.text);
      ::SendMessageA(edit_, EM_SETSEL, 0, static_cast<LPARAM>(cut));
      ::SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
      box_units_ -= cut;
      break;
    }
    case console::LogMirror::Step::Kind::kAppend: {
      // EM_REPLACESEL reads up to a NUL: the slice is copied to get one.
      const std::string slice(s.text);
      const auto end = static_cast<WPARAM>(box_units_);
      ::SendMessageA(edit_, EM_SETSEL, end, static_cast<LPARAM>(end));
      ::SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(slice.c_str()));
      ::SendMessageA(edit_, EM_SCROLLCARET, 0, 0);
      box_units_ += units(slice);
      break;
    }
    case console::LogMirror::Step::Kind::kNone:
      break;
  }
}
