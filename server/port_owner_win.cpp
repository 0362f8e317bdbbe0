#include "server/port_owner_win.h"

// iphlpapi's headers need Winsock 2's types, which must come before windows.h.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "config/settings.h"
#include "platform/file_identity.h"
#include "platform/program_win.h"
#include "platform/winsock_win.h"
#include "server/port_owner.h"
#include "server/process_win.h"

namespace port_owner {
namespace {

// Connections may open between asking for the size and filling the table.
constexpr int kTableAttempts = 4;

// The table of one address family, or nothing when it cannot be read.
std::vector<unsigned char> owner_table(ULONG family) {
  std::vector<unsigned char> table;
  DWORD size = 0;
  for (int attempt = 0; attempt < kTableAttempts; ++attempt) {
    const DWORD result = ::GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE,
                                               family, TCP_TABLE_OWNER_PID_ALL, 0);
    if (result == NO_ERROR && !table.empty()) return table;
    if (result != ERROR_INSUFFICIENT_BUFFER && result != NO_ERROR) return {};
    table.assign(size + size / 4 + 256, 0);
    size = static_cast<DWORD>(table.size());
  }
  return {};
}

// The port fields hold it in network byte order in their low 16 bits.
std::uint16_t host_port(DWORD field) {
  return static_cast<std::uint16_t>(((field & 0xFF) << 8) | ((field >> 8) & 0xFF));
}

void copy_address(const MIB_TCPROW_OWNER_PID& entry, TcpRow& row) {
  std::memcpy(row.address.data(), &entry.dwLocalAddr, 4);
}

void copy_address(const MIB_TCP6ROW_OWNER_PID& entry, TcpRow& row) {
  row.ipv6 = true;
  std::memcpy(row.address.data(), entry.ucLocalAddr, 16);
}

// Whether the table could be read.
template <typename Table>
bool add_rows(ULONG family, std::vector<TcpRow>& rows) {
  const std::vector<unsigned char> bytes = owner_table(family);
  if (bytes.empty()) return false;
  const auto* table = reinterpret_cast<const Table*>(bytes.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const auto& entry = table->table[i];
    TcpRow row;
    copy_address(entry, row);
    row.port = host_port(entry.dwLocalPort);
    row.listening = entry.dwState == MIB_TCP_STATE_LISTEN;
    row.pid = entry.dwOwningPid;
    rows.push_back(row);
  }
  return true;
}

// Every address the server's listen address stands for, without a port.
std::vector<sockaddr_storage> bind_addresses(std::string_view address) {
  // An IPv6 address may be entered in the brackets of a web address.
  if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
  }
  addrinfo hints{};
  hints.ai_flags = AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  std::vector<sockaddr_storage> addresses;
  if (::getaddrinfo(std::string(address).c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    sockaddr_storage storage{};
    std::memcpy(&storage, a->ai_addr, std::min(sizeof storage, std::size_t{a->ai_addrlen}));
    addresses.push_back(storage);
  }
  ::freeaddrinfo(found);
  return addresses;
}

BindOutcome bind_once(sockaddr_storage address, std::uint16_t port) {
  const SOCKET s = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return BindOutcome::kOtherError;
  struct Closer {
    SOCKET s;
    ~Closer() { ::closesocket(s); }
  } closer{s};
  // Exclusive, as a server should bind: Windows then denies a port another user's socket holds.
  BOOL on = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  int length = sizeof(sockaddr_in);
  if (address.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(address).sin6_port = ::htons(port);
    length = sizeof(sockaddr_in6);
  } else {
    reinterpret_cast<sockaddr_in&>(address).sin_port = ::htons(port);
  }
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
    return BindOutcome::kBound;
  }
  return ::WSAGetLastError() == WSAEACCES ? BindOutcome::kDenied : BindOutcome::kOtherError;
}

// Whether both any-addresses bind exclusively: then no socket of any address of either family is
// on the port and the system keeps it for nobody, so any listen address binds. Two binds take well
// under a millisecond; the owner tables take tens of milliseconds per family. Winsock is started.
bool nothing_on_port(std::uint16_t port) {
  sockaddr_storage any4{}, any6{};
  any4.ss_family = AF_INET;  // INADDR_ANY is all zeros, as is in6addr_any
  any6.ss_family = AF_INET6;
  return bind_once(any4, port) == BindOutcome::kBound &&
         bind_once(any6, port) == BindOutcome::kBound;
}

// Winsock is started.
std::optional<std::string> reserved_port_message(std::uint16_t port, std::string_view address) {
  const std::vector<sockaddr_storage> addresses = bind_addresses(address);
  if (addresses.empty()) return std::nullopt;
  // A name may stand for addresses of both families: a port is free only where all of them bind,
  // and reserved where any one of them is denied.
  return reserved_message(port, [&addresses](std::uint16_t p) {
    BindOutcome outcome = BindOutcome::kBound;
    for (const sockaddr_storage& a : addresses) {
      const BindOutcome one = bind_once(a, p);
      if (one == BindOutcome::kDenied) return one;
      if (one == BindOutcome::kOtherError) outcome = one;
    }
    return outcome;
  });
}

}  // namespace

std::optional<std::string> held_port_message(std::string_view port_text, std::string_view address,
                                             const std::string& server_path, bool trial_bind) {
  // A port the server cannot read is the server's to complain about, in the log as before.
  const auto port = port_number(port_text);
  if (!port) return std::nullopt;
  // The trial binds of one check share a Winsock session; without one, none is tried.
  std::optional<win::WinsockSession> winsock;
  if (trial_bind) winsock.emplace();
  trial_bind = trial_bind && winsock->ready();
  // Only a port something is on needs its owner named, or the system's keeping of it told.
  if (trial_bind && nothing_on_port(*port)) return std::nullopt;
  std::vector<TcpRow> rows;
  const bool read = add_rows<MIB_TCPTABLE_OWNER_PID>(AF_INET, rows) |
                    add_rows<MIB_TCP6TABLE_OWNER_PID>(AF_INET6, rows);
  if (!read) return std::nullopt;
  // The same file by what the file system knows it by; a process whose file cannot be read, or a
  // start without a server path, is given the benefit of the doubt. The server file is opened
  // only when a listener of the server's name is met.
  std::optional<file_id::Located> ours;
  const auto runs_our_server = [&](std::uint32_t pid) {
    const std::optional<std::string> image = proc::image_path(pid);
    if (server_path.empty() || !image) return true;
    if (!ours) ours = program::locate(server_path);
    return file_id::same_file(program::locate(*image), *ours);
  };
  const auto holder = foreign_listener(rows, *port, address, proc::process_list(),
                                       settings::kServerExe, runs_our_server);
  if (holder) return held_message(*port, *holder);
  // Windows may deny the trial bind for a listener that is there (an exclusive one on the
  // any-address): a copy of the server or an owner the tables do not name is not the system.
  if (!trial_bind || listener_in_the_way(rows, *port, address)) return std::nullopt;
  return reserved_port_message(*port, address);
}

}  // namespace port_owner
