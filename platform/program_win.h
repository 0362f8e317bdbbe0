// Where the program lives.
#pragma once

#include <string>

namespace program {

// Full path of the program's own executable.
std::string path();
// Its folder, without a trailing backslash.
std::string directory();
// Its file name, without the folder.
std::string file_name();

}  // namespace program
