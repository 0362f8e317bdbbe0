#include "server/port_owner.h"

#include <algorithm>
#include <charconv>

namespace port_owner {
namespace {

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool all_zero(const TcpRow& row) {
  const std::size_t size = row.ipv6 ? 16 : 4;
  return std::all_of(row.address.begin(), row.address.begin() + size,
                     [](std::uint8_t b) { return b == 0; });
}

bool where_the_server_listens(const TcpRow& row,
                              const std::optional<std::array<std::uint8_t, 4>>& given) {
  if (all_zero(row)) return true;
  return !row.ipv6 && given && std::equal(given->begin(), given->end(), row.address.begin());
}

}  // namespace

std::optional<std::uint16_t> port_number(std::string_view text) {
  text = trim_blanks(text);
  const char* const end = text.data() + text.size();
  unsigned value = 0;
  // Unsigned: no sign is taken, and neither are blanks inside.
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || stop != end || value < 1 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::optional<std::array<std::uint8_t, 4>> ipv4_bytes(std::string_view text) {
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    bytes[part] = static_cast<std::uint8_t>(value);
    text.remove_prefix(digits);
  }
  if (!text.empty()) return std::nullopt;
  return bytes;
}

std::optional<Holder> foreign_listener(const std::vector<TcpRow>& rows, std::uint16_t port,
                                       std::string_view address,
                                       const std::vector<proc::ProcessRecord>& processes,
                                       std::string_view server_exe) {
  const auto given = ipv4_bytes(address);
  for (const TcpRow& row : rows) {
    // Id 0 is the idle process: the system gives it for sockets whose owner it does not know.
    if (!row.listening || row.port != port || row.pid == 0) continue;
    if (!where_the_server_listens(row, given)) continue;
    const auto owner = std::find_if(processes.begin(), processes.end(),
                                    [&](const proc::ProcessRecord& p) { return p.id == row.pid; });
    if (owner == processes.end() || owner->name.empty()) continue;
    if (proc::name_matches(owner->name, server_exe, false)) continue;
    return Holder{row.pid, owner->name};
  }
  return std::nullopt;
}

std::string held_message(std::uint16_t port, const Holder& holder) {
  return "网页端口 " + std::to_string(port) + " 已被 " + holder.name + "（进程 " +
         std::to_string(holder.pid) + "）占用！";
}

}  // namespace port_owner
