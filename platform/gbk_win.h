// Texts the system gives in UTF-16 (dropped files, the file dialog) and the program's code page
// 936 byte strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace gbk {

// The text in code page 936, or nothing when a character of it has no exact form there.
std::optional<std::string> from_wide(std::wstring_view text);
// A code page 936 text in UTF-16.
std::wstring to_wide(std::string_view text);

}  // namespace gbk
