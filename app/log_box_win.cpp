#include "app/log_box_win.h"

#include "server/console_text.h"

void LogBox::attach(HWND edit) {
  edit_ = edit;
  // One double-byte character tells the box's units: two in bytes, one in UTF-16 units.
  ::SetWindowTextA(edit_, "中");
  byte_units_ = ::SendMessageA(edit_, EM_LINELENGTH, 0, 0) == 2;
  clear();
}

void LogBox::clear() {
  ::SetWindowTextA(edit_, "");
  text_.clear();
  text_units_ = 0;
}

std::size_t LogBox::units(std::string_view text) const {
  if (byte_units_ || text.empty()) return text.size();
  const int n =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  return n > 0 ? static_cast<std::size_t>(n) : text.size();
}

void LogBox::append(std::string_view text) {
  if (text.empty() || edit_ == nullptr) return;
  std::string piece(text);
  // Make room first: the oldest whole lines go, and the box never holds more than the cap.
  const std::size_t cut = console::front_cut(text_ + piece, console::kLogCap);
  if (cut > 0) {
    const std::size_t from_box = cut < text_.size() ? cut : text_.size();
    const std::size_t cut_units = units(std::string_view(text_).substr(0, from_box));
    ::SendMessageA(edit_, EM_SETSEL, 0, static_cast<LPARAM>(cut_units));
    ::SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    text_.erase(0, from_box);
    text_units_ -= cut_units;
    piece.erase(0, cut - from_box);
  }
  // Everything the box takes ends on a whole character, so the pieces' units add up.
  const auto end = static_cast<WPARAM>(text_units_);
  ::SendMessageA(edit_, EM_SETSEL, end, static_cast<LPARAM>(end));
  ::SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
  ::SendMessageA(edit_, EM_SCROLLCARET, 0, 0);
  text_units_ += units(piece);
  text_ += piece;
}
