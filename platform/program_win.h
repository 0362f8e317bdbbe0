// Where the program lives.
#pragma once

#include <optional>
#include <string>

#include "platform/file_identity.h"

namespace program {

// Full path of the program's own executable.
std::string path();
// Its folder, without a trailing backslash.
std::string directory();
// Its file name, without the folder.
std::string file_name();

// A path as the file system lists it: full, separators made backslashes, and with long names
// where the file exists, so that a short 8.3 form and a long one agree. The path as given when
// it cannot be resolved.
std::string listed_path(const std::string& path);

// What the file system knows a file or folder by, whatever path leads to it: the 128-bit id where
// the system has it, else the file index. Nothing when it cannot be opened or its file system
// gives no unique id.
std::optional<file_id::FileId> identity(const std::string& path);

// The identity and the listed path together: what "the same file" is decided by.
file_id::Located locate(const std::string& path);

}  // namespace program
