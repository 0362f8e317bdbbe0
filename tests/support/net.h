// A test's side of the stand-in's web port: a free port to give it and a plain HTTP request.
#pragma once

// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <string>

#include "platform/handles_win.h"

namespace e2e {

// Keeps Winsock started for as long as it lives.
class Winsock {
 public:
  Winsock();
  ~Winsock();
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
};

struct close_socket {
  void operator()(SOCKET s) const { ::closesocket(s); }
};
using unique_socket = win::unique_any<SOCKET, INVALID_SOCKET, close_socket>;

sockaddr_in loopback(unsigned short port);

// A connection to 127.0.0.1:port whose reads give up after timeout_ms; none when refused.
unique_socket connect_to(unsigned short port, DWORD timeout_ms = 10000);
void send_text(SOCKET s, const std::string& bytes);
// Everything the peer sends until it closes the connection.
std::string read_to_end(SOCKET s);

// A loopback port that nothing listens on right now.
unsigned short free_port();

// Everything a GET of path on 127.0.0.1:port answers, or "(no connection)".
std::string http_get(unsigned short port, const std::string& path = "/");
// The status code of that answer; 0 when there was none.
int http_status(unsigned short port, const std::string& path = "/");

}  // namespace e2e
