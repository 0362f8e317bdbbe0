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

bool entry_fits(std::span<const std::byte> buffer, std::size_t offset) {
  return offset <= buffer.size() && buffer.size() - offset >= spi32::kEntryMinSize;
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
                         const ImagePathReader& image_path) {
  const std::string name = gbk::name_part(path);
  if (name.empty()) return 0;
  for (const ProcessRecord& record : list) {
    if (!name_matches(record.name, name, false)) continue;
    const std::optional<std::string> image = image_path(record.id);
    if (!image || path_case::same(*image, path)) return record.id;
  }
  return 0;
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
    if (record.id == self->parent_id) return name_matches(record.name, "explorer.exe", false);
  }
  return false;
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
                                                           std::uint32_t buffer_address) {
  if (!entry_fits(buffer, entry_offset)) return std::nullopt;
  const std::size_t length = read_u16(buffer, entry_offset + spi32::kImageNameLength);
  const std::uint32_t address = read_u32(buffer, entry_offset + spi32::kImageNameBuffer);
  if (length == 0) return std::span<const std::byte>();
  if (address < buffer_address) return std::nullopt;
  const std::size_t start = address - buffer_address;
  if (start > buffer.size() || buffer.size() - start < length) return std::nullopt;
  return buffer.subspan(start, length);
}

long parent_in_chain(std::span<const std::byte> buffer, std::string_view name_or_id,
                     const ImageNameReader& image_name,
                     const std::function<void()>& between_entries) {
  const long value = decimal_id(name_or_id);
  // A name reads as 0, so only a positive value asks for an id.
  const bool by_id = value > 0 && static_cast<unsigned long long>(value) <= 0xFFFFFFFFull;
  const std::uint32_t wanted_id = static_cast<std::uint32_t>(value);
  // The first entry is the system's idle process and is never tested: the walk moves on
  // before each comparison.
  std::size_t offset = 0;
  while (entry_fits(buffer, offset)) {
    const std::uint32_t next = read_u32(buffer, offset + spi32::kNextEntryOffset);
    // A zero step ends the chain; a step past the end means the buffer is corrupt.
    if (next == 0 || next > buffer.size() - offset) return -1;
    offset += next;
    if (!entry_fits(buffer, offset)) return -1;
    const std::uint32_t id = read_u32(buffer, offset + spi32::kUniqueProcessId);
    if ((by_id && wanted_id == id) ||
        gbk::equals_ignoring_ascii_case(image_name(offset), name_or_id)) {
      return static_cast<long>(read_u32(buffer, offset + spi32::kInheritedFromUniqueProcessId));
    }
    if (between_entries) between_entries();
  }
  return -1;
}

}  // namespace proc
