// What the file system knows a file or folder by, whatever path leads to it. Windows gives a
// process's image path with junctions, directory links and substituted drive letters resolved,
// while the settings name the file as the user reached it: only the identity tells that both are
// one file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace file_id {

// The volume's serial number and the file's id on it. The system has two forms: the 32-bit serial
// with a 64-bit file index (every Windows), and a 64-bit serial with a 128-bit id (FileIdInfo,
// Windows 8 on; the only unique one on ReFS). wide tells which, as their numbers never compare.
struct FileId {
  bool wide = false;
  std::uint64_t volume = 0;
  std::uint64_t low = 0;   // the 64-bit index, or the low half of the 128-bit id
  std::uint64_t high = 0;  // the high half of the 128-bit id; 0 in the narrow form
  friend bool operator==(const FileId&, const FileId&) = default;
};

// File systems without unique ids (some network redirectors, FAT on some drivers, ReFS's 64-bit
// index) answer 0 or all ones for the volume or the file: no identity, or every file on such a
// volume would be one file.
std::optional<FileId> from_index(std::uint32_t volume, std::uint64_t index);
std::optional<FileId> from_id128(std::uint64_t volume, std::uint64_t low, std::uint64_t high);

// Where a path leads: the file's identity when it could be opened, and the path as the file
// system lists it (full, long names), which stands in where the identity is not known.
struct Located {
  std::optional<FileId> id;
  std::string listed;
};

// Whether two located paths are one file: by identity when both have one, by the listed paths'
// text (letter case as the file system folds it) when either has none.
bool same_file(const Located& a, const Located& b);

}  // namespace file_id
