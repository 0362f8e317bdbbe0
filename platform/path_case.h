// How Windows compares file names: without regard to case, by upper-casing both names with the
// file system's table. NTFS's table pairs more letters than ASCII; of those, code page 936 holds
// both forms of the full-width Latin letters, the Greek and Cyrillic letters and the small Roman
// numerals, so two GBK names that differ only there name the same file.
#pragma once

#include <string>
#include <string_view>

namespace path_case {

// The text with every such pair brought to one form: ASCII letters lower-cased (as names were
// folded before), the double-byte ones to their capital. Other bytes, trail bytes among them,
// pass unchanged.
std::string folded(std::string_view text);

// Whether two GBK names or paths name the same file as far as letter case goes.
bool same(std::string_view a, std::string_view b);

}  // namespace path_case
