// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include "tests/e2e/net.h"

#include <windows.h>

#include <cstdlib>

#include "platform/handles_win.h"

namespace e2e {
namespace {

struct close_socket {
  void operator()(SOCKET s) const { ::closesocket(s); }
};
using unique_socket = win::unique_any<SOCKET, INVALID_SOCKET, close_socket>;

sockaddr_in loopback(unsigned short port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = ::htons(port);
  a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

Winsock::Winsock() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
}

Winsock::~Winsock() { ::WSACleanup(); }

unsigned short free_port() {
  unique_socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in a = loopback(0);
  int len = sizeof a;
  ::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &len);
  return ::ntohs(a.sin_port);
}

std::string http_get(unsigned short port, const std::string& path) {
  unique_socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const DWORD timeout_ms = 10000;
  ::setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof timeout_ms);
  const sockaddr_in a = loopback(port);
  if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    return "(no connection)";
  }
  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  ::send(s.get(), request.data(), static_cast<int>(request.size()), 0);
  std::string out;
  char buf[4096];
  for (int n; (n = ::recv(s.get(), buf, sizeof buf, 0)) > 0;) out.append(buf, n);
  return out;
}

int http_status(unsigned short port, const std::string& path) {
  const std::string answer = http_get(port, path);
  if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return 0;
  return std::atoi(answer.c_str() + 9);
}

}  // namespace e2e
