// Notices the end of the server without asking for it again and again: the system's wait
// threads wait on the process, and the end reaches the window as a posted message. A process
// that cannot be opened for waiting (another user's, an elevated one) is looked for in the
// process list once a second instead, on a timer-queue thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handles_win.h"

namespace server {

class ProcessWatch {
 public:
  static constexpr DWORD kLookMs = 1000;

  ProcessWatch() = default;
  ~ProcessWatch() { cancel(); }
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  // Posts message to window, with this watch's token as wParam, once process pid, which carries
  // the executable name `name`, has ended (at once when it is gone already). Replaces an earlier
  // watch. A process that cannot be waited on is looked for every look_ms.
  void watch(DWORD pid, std::string_view name, HWND window, UINT message, DWORD look_ms = kLookMs);
  // No notice comes for the process watched so far; one already posted carries an old token.
  void cancel();
  // Whether a notice is about the process watched now.
  bool current(WPARAM token) const { return target_ && token == target_->token; }
  // The watched process's exit code once it has ended; nothing while it runs or when it could
  // not be opened to read it.
  std::optional<DWORD> exit_code() const;

 private:
  struct Target {
    HWND window;
    UINT message;
    WPARAM token;
    DWORD pid;
    std::string name;
    std::atomic<bool> posted{false};
  };
  static void CALLBACK ended(void* context, BOOLEAN timed_out);
  static void CALLBACK looked(void* context, BOOLEAN timed_out);
  static void post(Target& target);

  win::unique_handle process_;
  HANDLE wait_ = nullptr;
  HANDLE look_ = nullptr;
  std::unique_ptr<Target> target_;
  WPARAM last_token_ = 0;
};

}  // namespace server
