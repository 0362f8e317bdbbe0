#include "server/process_rules.h"

#include <climits>

#include "platform/gbk.h"
#include "platform/path_case.h"

namespace proc {
namespace {

// Little-endian reads at a position the caller has already checked against the buffer size.
std::uint32_t read_u32(std::span<const std::byte> buffer, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(buffer[at + i]) << (8 * i);
  }
  return value;
}

std::uint16_t read_u16(std::span<const std::byte> buffer, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned>(buffer[at]) |
                                    (static_cast<unsigned>(buffer[at + 1]) << 8));
}

// A pointer-sized field; ids and addresses of a 64-bit process take all eight bytes.
std::uint64_t read_pointer(std::span<const std::byte> buffer, std::size_t at,
                           const ChainLayout& layout) {
  std::uint64_t value = read_u32(buffer, at);
  if (layout.pointer_size == 8) value |= std::uint64_t{read_u32(buffer, at + 4)} << 32;
  return value;
}

bool entry_fits(std::span<const std::byte> buffer, std::size_t offset, const ChainLayout& layout) {
  return offset <= buffer.size() && buffer.size() - offset >= layout.entry_min_size;
}

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool name_matches(std::string_view a, std::string_view b, bool case_sensitive) {
  return case_sensitive ? a == b : path_case::same(a, b);
}

std::uint32_t id_by_name(const std::vector<ProcessRecord>& list, std::string_view name,
                         bool case_sensitive) {
  for (const ProcessRecord& record : list) {
    if (name_matches(record.name, name, case_sensitive)) return record.id;
  }
  return 0;
}

std::uint32_t parent_id_by_name(const std::vector<ProcessRecord>& list, std::string_view name,
                                int case_flag) {
  for (const ProcessRecord& record : list) {
    if (name_matches(record.name, name, case_flag == 1)) return record.parent_id;
  }
  return 0;
}

std::uint32_t id_by_path(const std::vector<ProcessRecord>& list, std::string_view path,
                         const ImagePathReader& image_path, const FileLocator& locate) {
  const std::string name = gbk::name_part(path);
  if (name.empty()) return 0;
  // Located once, and only when a process of that name runs: most looks find none.
  std::optional<file_id::Located> target;
  // A process whose path cannot be read may be another user's copy anywhere: it stands in only
  // when no process is known to run from the path, or a stop would aim at a stranger's server.
  std::uint32_t unreadable = 0;
  for (const ProcessRecord& record : list) {
    if (!name_matches(record.name, name, false)) continue;
    const std::optional<std::string> image = image_path(record.id);
    if (!image) {
      if (unreadable == 0) unreadable = record.id;
    } else {
      if (!target) target = locate(std::string(path));
      if (file_id::same_file(locate(*image), *target)) return record.id;
    }
  }
  return unreadable;
}

bool ends_parent(long parent_id, std::uint32_t own_shell_id) {
  return own_shell_id != 0 && parent_id > 0 &&
         static_cast<unsigned long>(parent_id) == own_shell_id;
}

WatchWay watch_way(bool opened, bool still_listed) {
  if (opened) return WatchWay::Wait;
  return still_listed ? WatchWay::Look : WatchWay::EndedAlready;
}

bool parent_is_explorer(const std::vector<ProcessRecord>& list, std::uint32_t own_id) {
  const ProcessRecord* self = nullptr;
  for (const ProcessRecord& record : list) {
    if (record.id == own_id) {
      self = &record;
      break;
    }
  }
  // A process whose parent is gone may report 0; no real parent has that id.
  if (self == nullptr || self->parent_id == 0) return false;
  for (const ProcessRecord& record : list) {
    if (record.id == self->parent_id) return parent_is_explorer(record.name);
  }
  return false;
}

bool parent_is_explorer(std::string_view parent_name) {
  return name_matches(parent_name, "explorer.exe", false);
}

bool id_has_name(const std::vector<ProcessRecord>& list, std::uint32_t id, std::string_view name) {
  for (const ProcessRecord& record : list) {
    if (record.id == id) return name_matches(record.name, name, false);
  }
  return false;
}

long decimal_id(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value > (LONG_MAX - digit) / 10) return negative ? LONG_MIN : LONG_MAX;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

std::optional<std::span<const std::byte>> image_name_bytes(std::span<const std::byte> buffer,
                                                           std::size_t entry_offset,
                                                           std::uint64_t buffer_address,
                                                           const ChainLayout& layout) {
  if (!entry_fits(buffer, entry_offset, layout)) return std::nullopt;
  const std::size_t length = read_u16(buffer, entry_offset + layout.image_name_length);
  const std::uint64_t address =
      read_pointer(buffer, entry_offset + layout.image_name_buffer, layout);
  if (length == 0) return std::span<const std::byte>();
  if (address < buffer_address || address - buffer_address > buffer.size()) return std::nullopt;
  const auto start = static_cast<std::size_t>(address - buffer_address);
  if (buffer.size() - start < length) return std::nullopt;
  return buffer.subspan(start, length);
}

long parent_in_chain(std::span<const std::byte> buffer, std::string_view name_or_id,
                     const ImageNameReader& image_name, const ChainLayout& layout) {
  const long value = decimal_id(name_or_id);
  // A name reads as 0, so only a positive value asks for an id.
  const bool by_id = value > 0 && static_cast<unsigned long long>(value) <= 0xFFFFFFFFull;
  const auto wanted_id = static_cast<std::uint64_t>(value);
  std::size_t offset = 0;
  while (entry_fits(buffer, offset, layout)) {
    const std::uint64_t id = read_pointer(buffer, offset + layout.unique_process_id, layout);
    // Windows lists its idle process first and Wine none at all: every entry is looked at, and
    // the idle one (id 0, no name) is never taken for a match.
    if (id != 0 && ((by_id && wanted_id == id) ||
                    gbk::equals_ignoring_ascii_case(image_name(offset), name_or_id))) {
      const std::uint64_t parent =
          read_pointer(buffer, offset + layout.inherited_from_unique_process_id, layout);
      // Process ids are 32-bit values even where the entry holds them in 64 bits.
      return parent <= 0xFFFFFFFFull ? static_cast<long>(parent) : -1;
    }
    const std::uint32_t next = read_u32(buffer, offset + layout.next_entry_offset);
    // A zero step ends the chain; a step past the end means the buffer is corrupt.
    if (next == 0 || next > buffer.size() - offset) return -1;
    offset += next;
    if (!entry_fits(buffer, offset, layout)) return -1;
  }
  return -1;
}

}  // namespace proc
