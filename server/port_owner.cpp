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

// Where the server binds: an address of one family, or nothing for a host name, whose family
// is the resolver's business.
struct Bind {
  bool ipv6 = false;
  std::array<std::uint8_t, 16> address{};
};

std::optional<Bind> bind_of(std::string_view text) {
  if (const auto v4 = ipv4_bytes(text)) {
    Bind bind;
    std::copy(v4->begin(), v4->end(), bind.address.begin());
    return bind;
  }
  if (const auto v6 = ipv6_bytes(text)) return Bind{true, *v6};
  return std::nullopt;
}

// Whether the server's bind would fail on this listener's address: only in its own family, and
// there on the same address or when either one is the any-address. For a host name only the
// any-addresses are known to be in the way, whichever family the name turns into.
bool in_the_way(const TcpRow& row, const std::optional<Bind>& server) {
  if (!server) return all_zero(row);
  if (row.ipv6 != server->ipv6) return false;
  const std::size_t size = row.ipv6 ? 16 : 4;
  const bool server_any = std::all_of(server->address.begin(), server->address.begin() + size,
                                      [](std::uint8_t b) { return b == 0; });
  return server_any || all_zero(row) ||
         std::equal(row.address.begin(), row.address.begin() + size, server->address.begin());
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

std::optional<std::array<std::uint8_t, 16>> ipv6_bytes(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  std::array<std::uint8_t, 16> bytes{};
  std::size_t filled = 0;          // bytes written so far
  std::optional<std::size_t> gap;  // where "::" stands, in bytes
  if (text.substr(0, 2) == "::") {
    gap = 0;
    text.remove_prefix(2);
  }
  while (!text.empty()) {
    // A dotted IPv4 address may end the text, as in ::ffff:192.168.1.5.
    if (text.find(':') == std::string_view::npos && text.find('.') != std::string_view::npos) {
      const auto v4 = ipv4_bytes(text);
      if (!v4 || filled > 12) return std::nullopt;
      std::copy(v4->begin(), v4->end(), bytes.begin() + filled);
      filled += 4;
      break;
    }
    std::size_t digits = 0;
    unsigned value = 0;
    for (; digits < text.size() && digits < 5; ++digits) {
      const char c = text[digits];
      const int v = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (v < 0) break;
      value = value * 16 + static_cast<unsigned>(v);
    }
    if (digits == 0 || digits > 4 || filled > 14) return std::nullopt;
    bytes[filled++] = static_cast<std::uint8_t>(value >> 8);
    bytes[filled++] = static_cast<std::uint8_t>(value & 0xFF);
    text.remove_prefix(digits);
    if (text.empty()) break;
    if (text.front() != ':') return std::nullopt;
    text.remove_prefix(1);
    if (!text.empty() && text.front() == ':') {
      if (gap) return std::nullopt;
      gap = filled;
      text.remove_prefix(1);
    } else if (text.empty()) {
      return std::nullopt;  // a single colon at the end
    }
  }
  if (gap) {
    if (filled > 14) return std::nullopt;  // "::" stands for at least one group
    std::copy_backward(bytes.begin() + *gap, bytes.begin() + filled, bytes.end());
    std::fill(bytes.begin() + *gap, bytes.end() - (filled - *gap), 0);
  } else if (filled != 16) {
    return std::nullopt;
  }
  return bytes;
}

std::optional<Holder> foreign_listener(const std::vector<TcpRow>& rows, std::uint16_t port,
                                       std::string_view address,
                                       const std::vector<proc::ProcessRecord>& processes,
                                       std::string_view server_exe,
                                       const std::function<bool(std::uint32_t)>& runs_our_server) {
  const auto server = bind_of(address);
  for (const TcpRow& row : rows) {
    // Id 0 is the idle process: the system gives it for sockets whose owner it does not know.
    if (!row.listening || row.port != port || row.pid == 0) continue;
    if (!in_the_way(row, server)) continue;
    const auto owner = std::find_if(processes.begin(), processes.end(),
                                    [&](const proc::ProcessRecord& p) { return p.id == row.pid; });
    if (owner == processes.end() || owner->name.empty()) continue;
    if (proc::name_matches(owner->name, server_exe, false) && runs_our_server(row.pid)) continue;
    return Holder{row.pid, owner->name};
  }
  return std::nullopt;
}

bool listener_in_the_way(const std::vector<TcpRow>& rows, std::uint16_t port,
                         std::string_view address) {
  const auto server = bind_of(address);
  return std::any_of(rows.begin(), rows.end(), [&](const TcpRow& row) {
    return row.listening && row.port == port && in_the_way(row, server);
  });
}

std::string held_message(std::uint16_t port, const Holder& holder) {
  return "网页端口 " + std::to_string(port) + " 已被 " + holder.name + "（进程 " +
         std::to_string(holder.pid) + "）占用！";
}

std::optional<std::string> reserved_message(std::uint16_t port, const Binder& bind) {
  if (bind(port) != BindOutcome::kDenied) return std::nullopt;
  std::string text = "网页端口 " + std::to_string(port) + " 已被系统保留，无法使用！";
  const unsigned last = std::min(port + kFreePortSearch, 65535u);
  for (unsigned next = port + 1u; next <= last; ++next) {
    if (bind(static_cast<std::uint16_t>(next)) == BindOutcome::kBound) {
      return text + "请改用其他端口，例如 " + std::to_string(next) + "。";
    }
  }
  if (last > port) {
    text += "其后的端口 " + std::to_string(port + 1u) + " 至 " + std::to_string(last) +
            " 也都无法使用，";
  }
  return text + "请改用其他端口。";
}

}  // namespace port_owner
