#include "server/console_text.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/gbk.h"

namespace console {
std::string ChunkDecoder::feed(std::string_view bytes) {
  std::string out = std::move(carry_);
  carry_.clear();
  out.reserve(out.size() + bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const void* nul = std::memchr(bytes.data() + i, '\0', bytes.size() - i);
    const std::size_t stop =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data()) : bytes.size();
    out.append(bytes.data() + i, stop - i);
    i = stop + 1;
  }
  // A byte below 0x40 is never the second byte of a character, so a character starts after it;
  // from the last one, walk the characters to see whether the text ends in a lone lead byte,
  // which waits for the byte that may complete it.
  std::size_t from = out.size();
  while (from > 0 && static_cast<unsigned char>(out[from - 1]) >= 0x40) --from;
  if (gbk::ends_in_lone_lead(std::string_view(out).substr(from))) {
    carry_ = out.substr(out.size() - 1);
    out.pop_back();
  }
  return out;
}

std::string ChunkDecoder::flush() { return std::exchange(carry_, std::string()); }

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

LogPace log_pace(bool shown, bool flooding) {
  if (shown) return {true, kSliceBytes, flooding ? 100u : 15u};
  if (flooding) return {false, 0, 100};
  return {true, kHiddenSliceBytes, 10};
}

std::size_t front_cut(std::string_view text, std::size_t cap) {
  if (text.size() <= cap) return 0;
  const std::size_t must_go = text.size() - cap;
  // '\n' is never the second byte of a double-byte character, so the byte after it starts one.
  // Whole lines go, unless the line that would go with them holds most of the newest text.
  const std::size_t line_end = text.find('\n', must_go - 1);
  if (line_end != std::string_view::npos && text.size() - (line_end + 1) >= cap / 2) {
    return line_end + 1;
  }
  // A line longer than what is left: keep its end, cut on a whole character.
  const std::size_t keep_from = gbk::whole_chars_length(text, must_go);
  return keep_from < must_go ? gbk::whole_chars_length(text, must_go + 1) : keep_from;
}

std::size_t slice_length(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text.size();
  const std::size_t line_end = text.rfind('\n', max_bytes - 1);
  if (line_end != std::string_view::npos && line_end + 1 >= max_bytes / 2) return line_end + 1;
  const std::size_t end = gbk::whole_chars_length(text, max_bytes);
  return end > 0 ? end : std::min<std::size_t>(text.size(), 2);
}

}  // namespace console
