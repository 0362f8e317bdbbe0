// Notices the end of the server without asking for it again and again: the system's wait
// threads wait on the process, and the end reaches the window as a posted message.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/handles_win.h"

namespace server {

class ProcessWatch {
 public:
  ProcessWatch() = default;
  ~ProcessWatch() { cancel(); }
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  // Posts message to window, with this watch's token as wParam, once process pid has ended (at
  // once when it is gone already). Replaces an earlier watch.
  void watch(DWORD pid, HWND window, UINT message);
  // No notice comes for the process watched so far; one already posted carries an old token.
  void cancel();
  // Whether a notice is about the process watched now.
  bool current(WPARAM token) const { return target_ && token == target_->token; }

 private:
  struct Target {
    HWND window;
    UINT message;
    WPARAM token;
  };
  static void CALLBACK ended(void* context, BOOLEAN timed_out);

  win::unique_handle process_;
  HANDLE wait_ = nullptr;
  std::unique_ptr<Target> target_;
  WPARAM last_token_ = 0;
};

}  // namespace server
