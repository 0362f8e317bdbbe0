// Where the program lives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// What the file system knows a file or folder by, whatever path leads to it: the volume's serial
// number and the file index. Nothing when it cannot be opened.
struct FileIdentity {
  std::uint32_t volume = 0;
  std::uint64_t index = 0;
};
std::optional<FileIdentity> identity(const std::string& path);

}  // namespace program
