// The look-out of one start: on a thread of its own, it waits for the server's process to appear
// under the start's shell, then knocks at its web port until it answers. What it finds reaches the
// window's thread as tasks (platform/ui_task_win.h); it decides nothing about the start itself,
// and it never touches a window. It runs from the launch until the window cancels it, the port
// answers, or its own far bound passes: an idle program has no look-out and wakes for nothing.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/handles_win.h"

namespace server {

class StartLookout {
 public:
  struct Sighting {
    DWORD pid = 0;
    // Open from the moment the process was seen until the window has a watch of its own on it,
    // so that a server that ends at once is still the one seen, and its exit code can be read.
    std::shared_ptr<win::unique_handle> process;
  };

  StartLookout() = default;
  ~StartLookout() { cancel(); }
  StartLookout(const StartLookout&) = delete;
  StartLookout& operator=(const StartLookout&) = delete;

  // Cancels an earlier look-out and makes the port that the next shell's job reports its new
  // processes to; the console attaches it to the job before the shell's first thread runs. Null
  // when none could be made: the look-out then looks at each tick only.
  HANDLE prepare();
  // Once the script is typed: looks for a process of server_path (one that runs already, else a
  // new one among the job's, among all processes when there is no job), then for a TCP
  // connection at host:port. appeared and answered run on window's thread.
  void begin(HANDLE job, const std::string& server_path, std::string host, std::string port,
             HWND window, std::function<void(const Sighting&)> appeared,
             std::function<void()> answered);
  // No more results come from this look-out; it ends at its next wake-up.
  void cancel();

  // What the look-out's thread and its owner share; its port outlives both as needed.
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace server
