#include "app/log_box_win.h"

#include <algorithm>

#include "server/console_text.h"

void LogBox::attach(HWND edit, UINT step_message) {
  edit_ = edit;
  step_message_ = step_message;
  // One double-byte character tells the box's units: two in bytes, one in UTF-16 units.
  ::SetWindowTextA(edit_, "中");
  byte_units_ = ::SendMessageA(edit_, EM_LINELENGTH, 0, 0) == 2;
  clear();
}

void LogBox::clear() {
  ::SetWindowTextA(edit_, "");
  text_.clear();
  text_units_ = 0;
  waiting_.clear();
}

std::size_t LogBox::units(std::string_view text) const {
  if (byte_units_ || text.empty()) return text.size();
  const int n =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  return n > 0 ? static_cast<std::size_t>(n) : text.size();
}

void LogBox::append(std::string_view text) {
  if (text.empty() || edit_ == nullptr) return;
  const bool idle = waiting_.empty();
  waiting_.append(text);
  // Text already waits behind a cut: it goes in with the next step, in order.
  if (!idle) return;
  if (make_room(waiting_.size()) && ::IsWindowVisible(edit_)) {
    ::PostMessageA(::GetAncestor(edit_, GA_ROOT), step_message_, 0, 0);
    return;
  }
  show_waiting();
}

void LogBox::step() {
  if (!waiting_.empty()) show_waiting();
}

bool LogBox::make_room(std::size_t incoming) {
  if (text_.size() + incoming <= console::kLogCap) return false;
  // With some slack, so that the next appends need no cut of their own. Whatever text_ holds,
  // the part that must go ends on a line end or a whole character.
  const std::size_t keep = console::kLogCap - console::kTrimSlack;
  const std::size_t cut =
      incoming >= keep ? text_.size() : console::front_cut(text_, keep - incoming);
  if (cut == 0) return false;
  const std::size_t cut_units = units(std::string_view(text_).substr(0, cut));
  ::SendMessageA(edit_, EM_SETSEL, 0, static_cast<LPARAM>(cut_units));
  ::SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
  text_.erase(0, cut);
  text_units_ -= cut_units;
  return true;
}

void LogBox::show_waiting() {
  make_room(waiting_.size());
  // A slice never holds more than the log keeps.
  if (waiting_.size() > console::kLogCap)
    waiting_.erase(0, console::front_cut(waiting_, console::kLogCap));
  // Everything the box takes ends on a whole character, so the pieces' units add up.
  const auto end = static_cast<WPARAM>(text_units_);
  ::SendMessageA(edit_, EM_SETSEL, end, static_cast<LPARAM>(end));
  ::SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(waiting_.c_str()));
  ::SendMessageA(edit_, EM_SCROLLCARET, 0, 0);
  text_units_ += units(waiting_);
  text_ += waiting_;
  waiting_.clear();
}
