#include "server/console_text.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/gbk.h"

namespace console {
std::string_view ChunkDecoder::feed(std::string_view bytes) {
  std::string_view out = bytes;
  // The usual read joins nothing and skips nothing: it is handed on as it is, not copied.
  if (!carry_.empty() || (!bytes.empty() && std::memchr(bytes.data(), '\0', bytes.size()))) {
    joined_.assign(carry_);
    carry_.clear();
    for (std::size_t i = 0; i < bytes.size();) {
      const void* nul = std::memchr(bytes.data() + i, '\0', bytes.size() - i);
      const std::size_t stop =
          nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data())
              : bytes.size();
      joined_.append(bytes.data() + i, stop - i);
      i = stop + 1;
    }
    out = joined_;
  }
  // A byte below 0x40 is never the second byte of a character, so a character starts after it;
  // from the last one, walk the characters to see whether the text ends in a lone lead byte,
  // which waits for the byte that may complete it.
  std::size_t from = out.size();
  while (from > 0 && static_cast<unsigned char>(out[from - 1]) >= 0x40) --from;
  if (gbk::ends_in_lone_lead(out.substr(from))) {
    carry_.assign(1, out.back());
    out.remove_suffix(1);
  }
  return out;
}

std::string ChunkDecoder::flush() { return std::exchange(carry_, std::string()); }

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

}  // namespace console
