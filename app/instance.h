// One copy of the program per program folder: the names under which a copy makes itself known
// to a second copy of the same executable.
#pragma once

#include <string>
#include <string_view>

namespace instance {

// A name that stands for the executable's path whatever the ASCII case of its letters (Windows
// paths ignore it); other folders give other names. Fit for kernel object and window message
// names: letters, digits and '-' only.
std::string key(std::string_view exe_path);

// The mutex the running copy holds, and the message a second copy sends to have its window
// shown.
std::string mutex_name(std::string_view key);
std::string show_message_name(std::string_view key);

}  // namespace instance
