// Byte-string rules for code page 936 (GBK). Every text in the program is a GBK byte string. A
// byte from 0x81 to 0xFE starts a double-byte character only when the byte after it can end one
// (0x40-0x7E or 0x80-0xFE); every other byte, 0x80 and 0xFF included, is a character of its own.
// This is how the system and the shell read such text, so it is the only rule that may decide
// where a character begins: a trail byte may look like a backslash (0x5C), but never like '"',
// '%' or a control byte.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace gbk {

inline bool is_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
inline bool is_trail_byte(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
}

// Width of the character starting at i: 2 for a lead byte with a trail byte after it, else 1
// (a lead byte before a byte that cannot end a character, or at the end, stands alone).
inline std::size_t char_width(std::string_view text, std::size_t i) {
  return i + 1 < text.size() && is_lead_byte(static_cast<unsigned char>(text[i])) &&
                 is_trail_byte(static_cast<unsigned char>(text[i + 1]))
             ? 2
             : 1;
}

// Start of the last character, or npos for an empty text.
std::size_t last_char_start(std::string_view text);

// Whether the text ends in a lead byte standing alone: whatever follows it may join it.
bool ends_in_lone_lead(std::string_view text);

// Position of the last folder separator (a backslash or a slash, both of which Windows takes)
// that is a character of its own, or npos.
std::size_t last_separator(std::string_view text);

// The text up to and including its last separator; empty without one.
std::string folder_part(std::string_view path);

// The text after its last separator; the whole text without one.
std::string name_part(std::string_view path);

// Length of the longest prefix of at most max_bytes bytes that ends on a whole character.
std::size_t whole_chars_length(std::string_view text, std::size_t max_bytes);

// The longest prefix of at most max_bytes bytes that ends on a whole character.
std::string cut_whole_chars(std::string_view text, std::size_t max_bytes);

// Lower-cases ASCII letters only; double-byte characters pass unchanged.
std::string ascii_lower(std::string_view text);

// Case-insensitive (ASCII letters only) byte comparison.
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

// What the system's conversion of a UTF-16 text into code page 936 gave: the bytes, and whether it
// put its default character in for one it has no bytes for.
struct Narrowed {
  std::string bytes;
  bool used_default = false;
};

// The text in code page 936 exactly, or nothing when it has no exact form there. narrow converts
// without best-fit mappings and widen converts the bytes back: a character the system replaced by
// its default one, or mapped to a look-alike all the same (Wine maps À to à), reads back as another
// text, and a path holding it would name another file.
std::optional<std::string> exactly(std::wstring_view text,
                                   const std::function<Narrowed(std::wstring_view)>& narrow,
                                   const std::function<std::wstring(std::string_view)>& widen);

}  // namespace gbk
