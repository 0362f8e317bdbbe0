#include "server/port_owner_win.h"

// iphlpapi's headers need Winsock 2's types, which must come before windows.h.
#include <winsock2.h>
#include <ws2ipdef.h>

#include <windows.h>

#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "config/settings.h"
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

template <typename Table>
void add_rows(ULONG family, std::vector<TcpRow>& rows) {
  const std::vector<unsigned char> bytes = owner_table(family);
  if (bytes.empty()) return;
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
}

}  // namespace

std::optional<std::string> held_port_message(std::string_view port_text, std::string_view address) {
  // A port the server cannot read is the server's to complain about, in the log as before.
  const auto port = port_number(port_text);
  if (!port) return std::nullopt;
  std::vector<TcpRow> rows;
  add_rows<MIB_TCPTABLE_OWNER_PID>(AF_INET, rows);
  add_rows<MIB_TCP6TABLE_OWNER_PID>(AF_INET6, rows);
  if (rows.empty()) return std::nullopt;
  const auto holder =
      foreign_listener(rows, *port, address, proc::process_list(), settings::kServerExe);
  if (!holder) return std::nullopt;
  return held_message(*port, *holder);
}

}  // namespace port_owner
