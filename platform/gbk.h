// Byte-string rules for code page 936 (GBK). Every text in the program is a GBK byte string;
// a byte of 0x80 or above starts a double-byte character, and the byte after it is never read
// as a character of its own (its value may be 0x5C, a backslash in ASCII).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gbk {

inline bool is_lead_byte(unsigned char c) { return c >= 0x80; }

// Position of the last folder separator (a backslash or a slash, both of which Windows takes)
// that is a character of its own, or npos.
std::size_t last_separator(std::string_view text);

// The text up to and including its last separator; empty without one.
std::string folder_part(std::string_view path);

// The text after its last separator; the whole text without one.
std::string name_part(std::string_view path);

// The longest prefix of at most max_bytes bytes that ends on a whole character.
std::string cut_whole_chars(std::string_view text, std::size_t max_bytes);

// Lower-cases ASCII letters only; double-byte characters pass unchanged.
std::string ascii_lower(std::string_view text);

// Case-insensitive (ASCII letters only) byte comparison.
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

}  // namespace gbk
