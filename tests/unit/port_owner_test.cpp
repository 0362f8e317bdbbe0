#include "server/port_owner.h"

#include <gtest/gtest.h>

namespace {

using port_owner::TcpRow;

TcpRow v4(std::array<std::uint8_t, 4> address, std::uint16_t port, std::uint32_t pid,
          bool listening = true) {
  TcpRow row;
  std::copy(address.begin(), address.end(), row.address.begin());
  row.port = port;
  row.pid = pid;
  row.listening = listening;
  return row;
}

TcpRow v6(std::uint8_t last_byte, std::uint16_t port, std::uint32_t pid) {
  TcpRow row;
  row.ipv6 = true;
  row.address[15] = last_byte;
  row.port = port;
  row.pid = pid;
  row.listening = true;
  return row;
}

proc::ProcessRecord process(std::uint32_t id, std::string name) {
  proc::ProcessRecord r;
  r.id = id;
  r.name = std::move(name);
  return r;
}

TEST(PortOwner, NamesTheListenerWhereTheServerWouldListen) {
  const std::vector<proc::ProcessRecord> processes = {
      process(0, "[System Process]"),
      process(4, "System"),
      process(40, "nginx.exe"),
      process(50, "Rivermesh_Windows_AMD64.EXE"),
      process(60, "迅雷.exe"),
      process(70, ""),
      process(80, "rivermesh_windows_amd64.exe")};  // another copy's server
  struct Case {
    const char* what;
    std::vector<TcpRow> rows;
    const char* address;
    std::uint32_t holder;  // 0: the start goes on
  };
  const Case cases[] = {
      {"any-address listener", {v4({0, 0, 0, 0}, 8080, 40)}, "127.0.0.1", 40},
      {"listener on the address given", {v4({192, 168, 1, 5}, 8080, 60)}, "192.168.1.5", 60},
      {"IPv6 any-address listener, server on IPv6", {v6(0, 8080, 4)}, "::1", 4},
      {"IPv6 loopback is another family", {v6(1, 8080, 40)}, "0.0.0.0", 0},
      // The server's bind on ::1 would not fail on an IPv4 listener, nor the other way round.
      {"IPv4 any-address listener, server on ::1", {v4({0, 0, 0, 0}, 8080, 40)}, "::1", 0},
      {"IPv6 any-address listener, server on IPv4", {v6(0, 8080, 40)}, "0.0.0.0", 0},
      {"IPv6 listener on the address given", {v6(1, 8080, 40)}, "[::1]", 40},
      {"another IPv6 address", {v6(2, 8080, 40)}, "::1", 0},
      {"server on the IPv6 any-address", {v6(2, 8080, 40)}, "::", 40},
      {"server on the IPv4 any-address", {v4({127, 0, 0, 1}, 8080, 40)}, "0.0.0.0", 40},
      {"another IPv4 address", {v4({127, 0, 0, 1}, 8080, 40)}, "192.168.1.5", 0},
      {"listener on the given address but the port differs",
       {v4({127, 0, 0, 1}, 8081, 40)},
       "127.0.0.1",
       0},
      {"a connection holds no port", {v4({127, 0, 0, 1}, 8080, 40, false)}, "127.0.0.1", 0},
      {"the server itself, any case", {v4({0, 0, 0, 0}, 8080, 50)}, "0.0.0.0", 0},
      // It would answer this copy's start for a server that failed on its port.
      {"another copy's server", {v4({127, 0, 0, 1}, 8080, 80)}, "127.0.0.1", 80},
      {"owner not in the process list", {v4({0, 0, 0, 0}, 8080, 99)}, "0.0.0.0", 0},
      {"owner without a name", {v4({0, 0, 0, 0}, 8080, 70)}, "0.0.0.0", 0},
      {"owner unknown to the system", {v4({0, 0, 0, 0}, 8080, 0)}, "0.0.0.0", 0},
      {"a host name meets the any-addresses of both families",
       {v4({127, 0, 0, 1}, 8080, 40), v6(0, 8080, 60)},
       "localhost",
       60},
      {"the server and a stranger: the stranger",
       {v4({0, 0, 0, 0}, 8080, 50), v4({127, 0, 0, 1}, 8080, 60)},
       "127.0.0.1",
       60},
      {"an unknown owner is passed over for a known one",
       {v4({0, 0, 0, 0}, 8080, 99), v4({127, 0, 0, 1}, 8080, 40)},
       "127.0.0.1",
       40},
      {"no table rows", {}, "0.0.0.0", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto holder = port_owner::foreign_listener(c.rows, 8080, c.address, processes,
                                                     "rivermesh_windows_amd64.exe",
                                                     [](auto pid) { return pid != 80; });
    ASSERT_EQ(holder.has_value(), c.holder != 0);
    if (!holder) continue;
    EXPECT_EQ(holder->pid, c.holder);
    for (const auto& p : processes) {
      if (p.id == c.holder) {
        EXPECT_EQ(holder->name, p.name);
      }
    }
  }
}

TEST(PortOwner, ReadsPortAndAddressTheWayTheServerWould) {
  EXPECT_EQ(port_owner::port_number("8080"), 8080);
  EXPECT_EQ(port_owner::port_number("  65535 "), 65535);
  EXPECT_EQ(port_owner::port_number("1"), 1);
  for (const char* bad : {"", "   ", "0", "65536", "99999999", "80-81", "8 0", "-80", "+80"}) {
    EXPECT_FALSE(port_owner::port_number(bad).has_value()) << bad;
  }
  EXPECT_EQ(port_owner::ipv4_bytes("192.168.1.5"), (std::array<std::uint8_t, 4>{192, 168, 1, 5}));
  EXPECT_EQ(port_owner::ipv4_bytes("0.0.0.0"), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
  for (const char* bad : {"", "localhost", "1.2.3", "1.2.3.4.", "1.2.3.256", " 1.2.3.4", "1..2.3",
                          "1.2.3.0004", "::1"}) {
    EXPECT_FALSE(port_owner::ipv4_bytes(bad).has_value()) << bad;
  }
  using V6 = std::array<std::uint8_t, 16>;
  EXPECT_EQ(port_owner::ipv6_bytes("::"), V6{});
  EXPECT_EQ(port_owner::ipv6_bytes("::1"), (V6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(port_owner::ipv6_bytes("[::1]"), port_owner::ipv6_bytes("0:0:0:0:0:0:0:1"));
  EXPECT_EQ(port_owner::ipv6_bytes("FE80::a:1"),
            (V6{0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA, 0, 1}));
  EXPECT_EQ(port_owner::ipv6_bytes("1::"), (V6{0, 1}));
  EXPECT_EQ(port_owner::ipv6_bytes("::ffff:192.168.1.5"),
            (V6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 168, 1, 5}));
  for (const char* bad :
       {"", ":", ":::", "1:2", "1::2::3", "1:2:3:4:5:6:7:8:9", "12345::", "1:2:3:4:5:6:7::8",
        "1:", "::g", "localhost", "1.2.3.4", "[::1", "::1.2.3.4.5", "abc"}) {
    EXPECT_FALSE(port_owner::ipv6_bytes(bad).has_value()) << bad;
  }
}

TEST(PortOwner, MessageNamesPortProgramAndId) {
  EXPECT_EQ(port_owner::held_message(8080, {1234, "nginx.exe"}),
            "网页端口 8080 已被 nginx.exe（进程 1234）占用！");
  // Spelled out in GBK: "网页端口 " ... " 已被 " ... "（进程 " ... "）占用！"
  EXPECT_EQ(port_owner::held_message(80, {4, "System"}),
            "\xCD\xF8\xD2\xB3\xB6\xCB\xBF\xDA 80 \xD2\xD1\xB1\xBB System\xA3\xA8\xBD\xF8\xB3\xCC "
            "4\xA3\xA9\xD5\xBC\xD3\xC3\xA3\xA1");
}

TEST(PortOwner, PortTheSystemKeepsIsRefusedWithTheNextFreeOneNamed) {
  // Any listener keeps the trial bind away, a copy of the server or an unknown owner too.
  EXPECT_TRUE(port_owner::listener_in_the_way({v4({0, 0, 0, 0}, 8080, 0)}, 8080, "127.0.0.1"));
  EXPECT_FALSE(port_owner::listener_in_the_way(
      {v6(0, 8080, 40), v4({127, 0, 0, 1}, 8080, 40, false)}, 8080, "0.0.0.0"));
  struct Case {
    const char* what;
    std::uint16_t port, first_kept, last_kept;  // 8082 is in use besides
    const char* message;  // after "网页端口 <port> 已被系统保留，无法使用！"
  };
  const Case cases[] = {
      {"a free port", 8080, 9000, 9000, nullptr},
      {"a port in use is the server's to report", 8082, 9000, 9000, nullptr},
      {"the next port", 8080, 8080, 8080, "请改用其他端口，例如 8081。"},
      {"a port in use is passed over", 8080, 8080, 8081, "请改用其他端口，例如 8083。"},
      {"none within the bound", 8080, 8000, 8180,
       "其后的端口 8081 至 8180 也都无法使用，请改用其他端口。"},
      {"never past 65535", 65500, 65500, 65535,
       "其后的端口 65501 至 65535 也都无法使用，请改用其他端口。"},
      {"the last port", 65535, 65535, 65535, "请改用其他端口。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::size_t binds = 0;
    const auto message = port_owner::reserved_message(c.port, [&](std::uint16_t p) {
      ++binds;
      if (p >= c.first_kept && p <= c.last_kept) return port_owner::BindOutcome::kDenied;
      return p == 8082 ? port_owner::BindOutcome::kOtherError : port_owner::BindOutcome::kBound;
    });
    ASSERT_EQ(message.has_value(), c.message != nullptr);
    if (message) {
      EXPECT_EQ(*message,
                "网页端口 " + std::to_string(c.port) + " 已被系统保留，无法使用！" + c.message);
    }
    EXPECT_LE(binds, 1 + port_owner::kFreePortSearch);
  }
}

}  // namespace
