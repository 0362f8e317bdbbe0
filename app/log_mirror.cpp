#include "app/log_mirror.h"

#include <algorithm>
#include <utility>

#include "platform/gbk.h"

namespace logbox {

using console::front_cut;

void LogMirror::add(std::string_view text) {
  text_.append(text);
  if (text_.size() - dropped_ <= kLogCap) return;
  dropped_ += front_cut(std::string_view(text_).substr(dropped_), kLogCap - kTrimSlack);
  if (dropped_ < box_) return;
  // Nothing the box holds is kept any more: it is emptied rather than cut.
  clear_box_ = clear_box_ || box_ > 0;
  text_.erase(0, dropped_);
  box_ = 0;
  dropped_ = 0;
}

LogMirror::Step LogMirror::next(std::size_t max_bytes) {
  if (std::exchange(clear_box_, false)) return {Step::Kind::kClear, {}};
  if (dropped_ > 0) {
    cut_.assign(text_, 0, dropped_);
    text_.erase(0, dropped_);
    box_ -= dropped_;
    dropped_ = 0;
    return {Step::Kind::kCut, cut_};
  }
  if (box_ == text_.size()) return {};
  const std::string_view rest = std::string_view(text_).substr(box_);
  const std::string_view slice = rest.substr(0, slice_length(rest, max_bytes));
  box_ += slice.size();
  return {Step::Kind::kAppend, slice};
}

void LogMirror::clear() {
  text_.clear();
  cut_.clear();
  box_ = 0;
  dropped_ = 0;
  clear_box_ = false;
}

LogPace log_pace(bool shown, bool flooding, bool stepping) {
  if (shown && flooding) return {stepping, stepping ? kSliceBytes : 0, 100};
  if (shown) return {true, kSliceBytes, 15};
  if (flooding) return {false, 0, 100};
  return {true, kHiddenSliceBytes, 10};
}

std::size_t slice_length(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text.size();
  const std::size_t line_end = text.rfind('\n', max_bytes - 1);
  if (line_end != std::string_view::npos && line_end + 1 >= max_bytes / 2) return line_end + 1;
  const std::size_t end = gbk::whole_chars_length(text, max_bytes);
  return end > 0 ? end : std::min<std::size_t>(text.size(), 2);
}

}  // namespace logbox
