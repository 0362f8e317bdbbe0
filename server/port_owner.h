// Who already listens on the web port: the start request names that program instead of letting
// the server fail on a port it cannot have. The Windows side (port_owner_win.cpp) reads the
// system's TCP tables and process list; the decision is made here.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/process_rules.h"

namespace port_owner {

// One row of the system's TCP tables with its owning process.
struct TcpRow {
  bool ipv6 = false;
  // Network byte order; an IPv4 address takes the first four bytes.
  std::array<std::uint8_t, 16> address{};
  std::uint16_t port = 0;  // host byte order
  bool listening = false;  // a connection in any other state holds no port for a new listener
  std::uint32_t pid = 0;
};

struct Holder {
  std::uint32_t pid = 0;
  std::string name;  // executable file name, GBK
};

// The port as the server reads its -p argument: decimal 1 to 65535, blanks around it allowed.
std::optional<std::uint16_t> port_number(std::string_view text);

// Dotted IPv4 address in network byte order.
std::optional<std::array<std::uint8_t, 4>> ipv4_bytes(std::string_view text);

// IPv6 address in network byte order: hexadecimal groups, one "::" at most, a dotted IPv4
// address at the end, and square brackets around it allowed.
std::optional<std::array<std::uint8_t, 16>> ipv6_bytes(std::string_view text);

// The first listener on `port` on which the server's bind would fail (its own address family, and
// there the same address or the any-address on either side; for a host name the any-address of
// either family) whose owner is in `processes` and does not run this copy's server: under another
// name than `server_exe` (any ASCII case), or under that name where runs_our_server(pid) says it
// runs another file (another copy's server, which would answer this copy's start for it). A
// listener whose owner is not found is passed over: a failed look-up never stands in the way of a
// start. Nothing when the port is free or this copy's server holds it.
std::optional<Holder> foreign_listener(const std::vector<TcpRow>& rows, std::uint16_t port,
                                       std::string_view address,
                                       const std::vector<proc::ProcessRecord>& processes,
                                       std::string_view server_exe,
                                       const std::function<bool(std::uint32_t)>& runs_our_server);

// Whether any listener on `port`, whoever owns it, stands where the server's bind would fail.
bool listener_in_the_way(const std::vector<TcpRow>& rows, std::uint16_t port,
                         std::string_view address);

// "网页端口 <port> 已被 <name>（进程 <pid>）占用！"
std::string held_message(std::uint16_t port, const Holder& holder);

// What a bind of the web port with exclusive use comes to. Windows answers a port in a range it
// keeps for itself (Hyper-V, WSL, Docker: "netsh int ipv4 show excludedportrange") or one another
// user's socket holds exclusively with an access error, while its tables show nobody listening.
enum class BindOutcome { kBound, kDenied, kOtherError };
using Binder = std::function<BindOutcome(std::uint16_t port)>;

// How many ports above a reserved one are tried for a free one, a moment's bind each.
inline constexpr unsigned kFreePortSearch = 100;

// The message that refuses the start when `bind` is denied the port: it names the next port above
// that binds (never past 65535), or says that none within kFreePortSearch did. Nothing for any
// other outcome: the server's own bind has the last word then.
std::optional<std::string> reserved_message(std::uint16_t port, const Binder& bind);

}  // namespace port_owner
