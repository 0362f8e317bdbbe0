#include "platform/gbk.h"

namespace gbk {
namespace {

// Width of the character starting at i: 2 for a lead byte with a trail byte after it.
std::size_t char_width(std::string_view text, std::size_t i) {
  if (is_lead_byte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) return 2;
  return 1;
}

}  // namespace

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

std::string cut_whole_chars(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t w = char_width(text, end);
    if (end + w > max_bytes) break;
    end += w;
  }
  return std::string(text.substr(0, end));
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

}  // namespace gbk
