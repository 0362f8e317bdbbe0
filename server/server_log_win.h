// The server's log on disk as Windows keeps it: logs\server.log in the program's folder, made on
// first use, and a flush timer that runs only while output waits in memory. The rules are in
// server_log.h.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handles_win.h"
#include "server/server_log.h"

namespace server_log {

class FolderFiles final : public Files {
 public:
  explicit FolderFiles(std::string folder) : folder_(std::move(folder)) {}
  std::optional<Opened> open() override;
  bool append(std::string_view bytes) override;
  void close() override { file_.reset(); }
  Step remove(int index) override;
  Step rename(int from, int to) override;

 private:
  std::string path(int index) const;

  const std::string folder_;
  win::unique_file file_;
};

// One per program, shared by the console and each run's reader. Writes happen on the flush
// timer's thread (a thread-pool wait) and on the reader's, never on the thread that calls start
// or end; only the last flush at program exit runs there, once the window is gone.
class DiskLog {
 public:
  // In the program's folder; nothing is created on disk before the first flush.
  static std::shared_ptr<DiskLog> create();
  DiskLog(const DiskLog&) = delete;
  DiskLog& operator=(const DiskLog&) = delete;

  FileLog& log() { return log_; }

 private:
  explicit DiskLog(std::string folder);
  void arm(unsigned ms);
  static void CALLBACK timer_fired(void* context, BOOLEAN timed_out);

  FolderFiles files_;
  win::unique_handle timer_;
  FileLog log_;
  // Last, so that it goes first: no flush runs while the rest is taken down.
  win::unique_wait wait_;
};

}  // namespace server_log
