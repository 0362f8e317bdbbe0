// Decisions about processes that do not need Windows: name matching, lookups over a process
// list, and the walk over the system's process information chain. The Windows side
// (process_win.cpp) fills the lists and buffers these work on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"

namespace proc {

// One process as a Toolhelp snapshot reports it.
struct ProcessRecord {
  std::uint32_t id = 0;
  std::string name;  // executable file name, GBK, no folder
  std::uint32_t module_id = 0;
  std::uint32_t parent_id = 0;
  std::int32_t priority_base = 0;
  std::uint32_t thread_count = 0;
};

// Byte comparison; without case_sensitive the letters are folded as the file system folds them
// (path_case), and the trail bytes of double-byte characters are never taken for letters.
bool name_matches(std::string_view a, std::string_view b, bool case_sensitive);

// Id of the first record named `name`, else 0.
std::uint32_t id_by_name(const std::vector<ProcessRecord>& list, std::string_view name,
                         bool case_sensitive);

// Parent id of the first record named `name`, else 0. Only a case_flag of exactly 1 compares
// case-sensitively.
std::uint32_t parent_id_by_name(const std::vector<ProcessRecord>& list, std::string_view name,
                                int case_flag);

// Whether the record with that id carries that executable name (any ASCII case).
bool id_has_name(const std::vector<ProcessRecord>& list, std::uint32_t id, std::string_view name);

// Reads the full path of a process's executable file; nothing when it cannot be read (another
// user's or an elevated process, or one that has ended).
using ImagePathReader = std::function<std::optional<std::string>(std::uint32_t id)>;

// What a path leads to: the file's identity and its listed path (program::locate on Windows).
using FileLocator = std::function<file_id::Located(const std::string& path)>;

// Id of the first process that is the executable at `path`: it carries the path's file name
// and its image path leads to the same file (file_id::same_file: Windows gives the image path
// with links resolved, so a server reached through a junction or a substituted drive is matched
// by what the file system knows it by). Copies in other folders are not it. Only when none is,
// the first process of that name whose path cannot be read counts. 0 when none, and for an
// empty path.
std::uint32_t id_by_path(const std::vector<ProcessRecord>& list, std::string_view path,
                         const ImagePathReader& image_path, const FileLocator& locate);

// Whether a stop ends the server's parent too: only when it is the shell the program started
// itself (own_shell_id, 0 when there is none). A prompt of the user's that started a server by
// hand is left alone, whatever its name.
bool ends_parent(long parent_id, std::uint32_t own_shell_id);

// How the end of a process is learnt: by waiting on it when it could be opened for that; by
// looking at the process list now and then when it could not (another user's, an elevated one)
// but is still listed; at once when it is gone already.
enum class WatchWay { Wait, Look, EndedAlready };
WatchWay watch_way(bool opened, bool still_listed);

// Whether the process `own_id` was started by a process named explorer.exe (any ASCII case).
bool parent_is_explorer(const std::vector<ProcessRecord>& list, std::uint32_t own_id);
// The same from the file name of the process its parent's id leads to.
bool parent_is_explorer(std::string_view parent_name);

// Decimal value of the text the way atoi reads it (leading blanks, a sign, digits up to the
// first other character; 0 without digits), clamped instead of overflowing.
long decimal_id(std::string_view text);

// Where SYSTEM_PROCESS_INFORMATION keeps what the walk reads. The system hands a process
// entries of its own pointer width: ImageName.Buffer and the two ids are pointer-sized.
struct ChainLayout {
  std::size_t pointer_size;
  std::size_t next_entry_offset;  // u32
  std::size_t image_name_length;  // UNICODE_STRING.Length, bytes, u16
  std::size_t image_name_buffer;  // UNICODE_STRING.Buffer, an address
  std::size_t unique_process_id;
  std::size_t inherited_from_unique_process_id;
  std::size_t entry_min_size;  // everything read above fits in this many bytes
};
inline constexpr ChainLayout kChainLayout32{4, 0x00, 0x38, 0x3C, 0x44, 0x48, 0x4C};
inline constexpr ChainLayout kChainLayout64{8, 0x00, 0x38, 0x40, 0x50, 0x58, 0x60};
// The layout of this build's own process.
inline constexpr const ChainLayout& kOwnChainLayout =
    sizeof(void*) == 8 ? kChainLayout64 : kChainLayout32;

// Where the UTF-16LE image name of the entry at entry_offset lies inside the buffer. The entry
// holds an absolute address; buffer_address is the address the buffer had when the system filled
// it. Empty span for an empty name; nullopt when the entry or the name lies outside the buffer.
std::optional<std::span<const std::byte>> image_name_bytes(std::span<const std::byte> buffer,
                                                           std::size_t entry_offset,
                                                           std::uint64_t buffer_address,
                                                           const ChainLayout& layout);

// Gives the GBK image name of the entry at the offset it is handed.
using ImageNameReader = std::function<std::string(std::size_t entry_offset)>;

// Parent id of the first entry whose id equals the positive decimal value of `name_or_id` or
// whose image name equals it (ASCII case folded); the idle process (id 0) never matches, wherever
// it stands (Wine lists none). -1 when nothing matches or the chain is corrupt.
long parent_in_chain(std::span<const std::byte> buffer, std::string_view name_or_id,
                     const ImageNameReader& image_name, const ChainLayout& layout);

}  // namespace proc
