#include "tests/support/net.h"

#include <cstdlib>

namespace e2e {
sockaddr_in loopback(unsigned short port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = ::htons(port);
  a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  return a;
}

unique_socket connect_to(unsigned short port, DWORD timeout_ms) {
  unique_socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  ::setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof timeout_ms);
  const sockaddr_in a = loopback(port);
  if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) s.reset();
  return s;
}

void send_text(SOCKET s, const std::string& bytes) {
  ::send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
}

std::string read_to_end(SOCKET s) {
  std::string out;
  char buf[4096];
  for (int n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;) out.append(buf, n);
  return out;
}

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
  const unique_socket s = connect_to(port);
  if (!s) return "(no connection)";
  send_text(s.get(), "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  return read_to_end(s.get());
}

int http_status(unsigned short port, const std::string& path) {
  const std::string answer = http_get(port, path);
  if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return 0;
  return std::atoi(answer.c_str() + 9);
}

}  // namespace e2e
