// The hidden command shell that runs the launch script, and the reader that carries its output
// to the log. Used from the UI thread; only the reader runs on a thread of its own, and it reaches
// the window through posted messages, never waiting for the window.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handles_win.h"
#include "server/launch.h"
#include "server/server_log.h"

namespace server_log {
class DiskLog;
}

namespace console {

// Output on its way from the reader to the window. The reader adds; at most one notice is on its
// way at a time, and the window takes everything that arrived since in one go, so the lock is
// held only for an append or a swap. What waits here is bounded like the log itself. The notice is
// message, with the inbox's address as wParam, so that a notice of an earlier launch's inbox is
// known as such.
class Inbox {
 public:
  Inbox(HWND window, UINT message) : window_(window), message_(message) {}
  void put(std::string_view text);
  std::string take_all();

 private:
  std::mutex mutex_;
  std::string pending_;
  bool notified_ = false;
  const HWND window_;
  const UINT message_;
};

class Console {
 public:
  Console() = default;
  ~Console() { release(0); }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Ends an earlier launch, then starts cmd.exe hidden in folder with its input and output on
  // pipes, and the reader, which puts the output into output. The job that holds the shell
  // reports each process it gets to notices (a completion port; null for none) from before the
  // shell's first thread runs. False when no shell could be started.
  bool launch(const std::string& folder, std::shared_ptr<Inbox> output, HANDLE notices);
  // Types a line into the shell.
  void write_line(std::string_view line);
  // Whether the shell has taken everything typed so far.
  bool input_taken() const;
  // Ends the shell with exit_code (when it still runs) and closes the pipes.
  void release(UINT exit_code);
  // The shell's process id; 0 when none was started. The open handle keeps the id its own.
  DWORD shell_id() const { return shell_ ? ::GetProcessId(shell_.get()) : 0; }
  // The job that holds the shell and what it starts; null when the platform refused one.
  HANDLE job() const { return job_.get(); }

  // The server's log on disk (logs\server.log). The next launch's run begins with a header that
  // shows these fields' launch line, its password masked; every byte the reader receives follows.
  void log_next_start(const launch::Fields& fields);
  // A run for a server that ran before the program: its header at once (no byte of its output
  // reaches the program); the program's own trouble with the file goes to inbox.
  void log_taken_over(DWORD server_id, const std::shared_ptr<Inbox>& inbox);
  // Ends the run in the log. At program exit what waits is written out at once: no flush comes
  // later.
  void log_end(const server_log::End& end);
  // A line of the program's own in the open run, between the server's output.
  void log_note(std::string_view line);

 private:
  // taken_over: the id of a server taken over, whose run has a header of its own; 0 for a launch.
  void start_log(const std::string& line, const std::shared_ptr<Inbox>& inbox,
                 DWORD taken_over = 0);

  // Holds the shell and everything it starts: they end with the program, however it ends.
  win::unique_handle job_;
  win::unique_handle shell_;
  win::unique_handle input_read_;
  win::unique_handle input_write_;
  std::shared_ptr<server_log::DiskLog> disk_log_;
  std::optional<std::string> next_log_line_;
};

}  // namespace console
