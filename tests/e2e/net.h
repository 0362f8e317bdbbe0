// A test's side of the stand-in's web port: a free port to give it and a plain HTTP request.
#pragma once

#include <string>

namespace e2e {

// Keeps Winsock started for as long as it lives.
class Winsock {
 public:
  Winsock();
  ~Winsock();
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
};

// A loopback port that nothing listens on right now.
unsigned short free_port();

// Everything a GET of path on 127.0.0.1:port answers, or "(no connection)".
std::string http_get(unsigned short port, const std::string& path = "/");
// The status code of that answer; 0 when there was none.
int http_status(unsigned short port, const std::string& path = "/");

}  // namespace e2e
