#include "platform/gbk.h"

#include <utility>

namespace gbk {

std::size_t last_char_start(std::string_view text) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); i += char_width(text, i)) last = i;
  return last;
}

bool ends_in_lone_lead(std::string_view text) {
  const std::size_t last = last_char_start(text);
  return last != std::string_view::npos && last + 1 == text.size() &&
         is_lead_byte(static_cast<unsigned char>(text[last]));
}

std::size_t last_separator(std::string_view text) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); i += char_width(text, i)) {
    if (text[i] == '\\' || text[i] == '/') found = i;
  }
  return found;
}

std::string folder_part(std::string_view path) {
  const std::size_t pos = last_separator(path);
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

std::string name_part(std::string_view path) {
  const std::size_t pos = last_separator(path);
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::size_t whole_chars_length(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text.size();
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t w = char_width(text, end);
    if (end + w > max_bytes) break;
    end += w;
  }
  return end;
}

std::string cut_whole_chars(std::string_view text, std::size_t max_bytes) {
  return std::string(text.substr(0, whole_chars_length(text, max_bytes)));
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); i += char_width(out, i)) {
    if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
  }
  return out;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

std::optional<std::string> exactly(std::wstring_view text,
                                   const std::function<Narrowed(std::wstring_view)>& narrow,
                                   const std::function<std::wstring(std::string_view)>& widen) {
  Narrowed n = narrow(text);
  if (n.used_default || widen(n.bytes) != text) return std::nullopt;
  return std::move(n.bytes);
}

}  // namespace gbk
