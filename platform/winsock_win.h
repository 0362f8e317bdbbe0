// Winsock for the span of a scope: started on construction, cleaned up on destruction when it
// started. Include it before windows.h, as winsock2.h must be.
#pragma once

#include <winsock2.h>

namespace win {

class WinsockSession {
 public:
  WinsockSession() { ready_ = ::WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  ~WinsockSession() {
    if (ready_) ::WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool ready() const { return ready_; }

 private:
  WSADATA data_{};
  bool ready_ = false;
};

}  // namespace win
