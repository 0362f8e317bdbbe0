// One copy of the program per program folder: the names under which a copy makes itself known
// to a second copy started from the same folder, under any file name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace instance {

// A name that stands for the executable's folder whatever the case of its letters, as the file
// system takes them (path_case); other folders give other names. A renamed copy beside the
// program shares its config.ini, run.bat and server, so it gets the same name. The caller hands
// in the long form of the path, so that a start through a short 8.3 path agrees with a long one.
// Fit for kernel object and window message names: letters, digits and '-' only.
std::string key(std::string_view exe_path);

// The mutex the running copy holds, and the message a second copy sends to have its window
// shown.
std::string mutex_name(std::string_view key);
std::string show_message_name(std::string_view key);

// The system's answers to creating the mutex that matter here.
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

// Whether another copy holds the mutex, from what creating it gave: a handle to an existing one,
// or no handle because the existing one belongs to a copy with more rights (an elevated copy's
// mutex refuses a normal one access). Any other failure lets this copy run.
bool already_running(bool got_handle, std::uint32_t last_error);

}  // namespace instance
