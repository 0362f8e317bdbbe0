// The server's output kept on disk, in logs\server.log beside the program: what a run said
// outlives the log tab, an exit and a crash of the program. The rules live here; the files, the
// clock and the flush timer are handed in (server_log_win.cpp), so that every decision can be
// checked without Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "server/launch.h"

namespace server_log {

inline constexpr char kFolder[] = "logs";
// A file is never let grow past this; kOldFiles older ones are kept beside it. Only a server.log
// that cannot be moved up (a viewer holds it open) takes more, up to kHeldFileCap: what a run says
// is kept rather than lost for a viewer left open, and the log never takes more than
// kOldFiles * kFileCap + kHeldFileCap on disk.
inline constexpr std::uint64_t kFileCap = std::uint64_t{4} << 20;
inline constexpr std::uint64_t kHeldFileCap = 2 * kFileCap;
inline constexpr int kOldFiles = 3;
// Where a rotation puts server.log and the oldest file while it moves the others, so that every
// move can be taken back until all have worked. Their names sort where their contents belong,
// should a program killed amid a rotation leave them behind.
inline constexpr int kMovingNewest = -1;             // "server.0.log"
inline constexpr int kMovingOldest = kOldFiles + 1;  // "server.4.log"
// Output waits in memory never longer than kFlushMs; once this much waits, the flush is asked
// for at once. The reader hands the writing to the flush so that it drains the pipe as fast as
// without the file, and writes itself only when kMaxBufferBytes wait: that bounds the memory.
// Each flush costs a timer's arming and a pool thread's wake-up (calls to the wineserver under
// Wine): in a flood, flushes of 64 KiB made writing through the program half as slow again.
inline constexpr std::size_t kBufferBytes = 1024 * 1024;
inline constexpr std::size_t kMaxBufferBytes = 4 * 1024 * 1024;
inline constexpr unsigned kFlushMs = 1000;
inline constexpr char kMask[] = "******";
// The program's own line in the log tab when the file cannot be written.
inline constexpr char kFailedNotice[] =
    "\r\n（服务器日志无法写入 logs\\server.log，本次运行不再记录）\r\n";

// "server.log" for 0, "server.N.log" for the older ones, "server.0.log" for kMovingNewest.
std::string file_name(int index);

struct Stamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// "2026-12-09 10:00:00"
std::string stamp_text(const Stamp& stamp);

// The launch line as run.bat holds it, the password inside -a "account:password" shown as
// kMask. Built from the fields rather than searched for in the line, so that a password that
// looks like a delimiter, or that also appears in the account or the address, hides exactly
// itself.
std::string masked_command_line(const launch::Fields& fields);

// "==== <time> 启动：<masked line>" with its line end.
std::string start_line(const Stamp& stamp, std::string_view masked_line);
// "==== <time> 接管：已在运行的进程 <id>（它的输出无法记录）": the run of a server that ran
// before the program, whose output goes to a console of its own.
std::string taken_over_line(const Stamp& stamp, std::uint32_t process_id);

struct End {
  enum class Kind { Stop, ExitCode, ProgramExit, StartFailed, Unrecorded };
  Kind kind = Kind::Stop;
  // The server's exit code with ExitCode; nothing when it could not be read.
  std::optional<std::uint32_t> code;

  static End stop() { return {Kind::Stop, std::nullopt}; }
  static End exit_code(std::optional<std::uint32_t> code) { return {Kind::ExitCode, code}; }
  static End program_exit() { return {Kind::ProgramExit, std::nullopt}; }
  // The start did not come to a server (it was not seen, or no shell came up).
  static End start_failed() { return {Kind::StartFailed, std::nullopt}; }
  // A new run's header found the last run still open: how it ended was not learnt.
  static End unrecorded() { return {Kind::Unrecorded, std::nullopt}; }
};
// "==== <time> 结束：停止 | 退出码 N | 程序退出 | 启动失败 | 未记录" with its line end.
std::string end_line(const Stamp& stamp, const End& end);

// How `bytes` more bytes go into a log whose current file holds `size`: how many go into the
// current file first (as many as fit: a read from the pipe is no unit of the server's, and a file
// closed early would keep less of the output on disk), then each later piece starts a new file.
// No piece is larger than kFileCap, also when one write is.
struct Split {
  std::uint64_t first = 0;
  std::uint64_t rotations = 0;  // new files to start after the first piece
};
Split split(std::uint64_t size, std::uint64_t bytes);

// The log's files, by index (0 is server.log).
class Files {
 public:
  virtual ~Files() = default;
  // Refused is what Windows answers for a file another program holds open without delete
  // sharing, as log viewers do: it can be neither moved, nor replaced, nor deleted.
  enum class Step { Done, Missing, Refused };
  struct Opened {
    std::uint64_t size = 0;
    // Whether the file is empty or ends in a line break: a program killed mid-line leaves a file
    // that does not.
    bool ends_line = true;
  };
  // Opens server.log for appending, creating the folder and the file.
  virtual std::optional<Opened> open() = 0;
  virtual bool append(std::string_view bytes) = 0;
  virtual void close() = 0;
  virtual Step remove(int index) = 0;
  // Replaces a file that has the name `to`.
  virtual Step rename(int from, int to) = 0;
};

enum class Rotation {
  Done,       // server.log is now server.1.log, each older file one further, the oldest gone
  Unchanged,  // a file could not move: every file is as it was
  Broken,     // a move could not be taken back (a file was taken between two moves)
};
// Moves the files up, each move in an order that can be taken back: server.log first, as a viewer
// holds it most often, and the oldest file deleted only once all others have moved. A missing
// server.log has nothing to move up.
Rotation rotate(Files& files);

// Buffers the output of the current run and writes it, rotated, to Files. Thread-safe: the
// console reader adds output, the UI thread starts and ends runs, the flush timer flushes; only
// the reader and the flush touch the files, and the UI thread never waits for them.
class FileLog {
 public:
  using Clock = std::function<Stamp()>;
  // Asks for flush() within the given milliseconds (0: as soon as possible).
  using Arm = std::function<void(unsigned ms)>;
  // Where the one line that says the file failed goes (the run's log tab).
  using Notice = std::function<void(std::string_view)>;

  FileLog(Files& files, Clock clock, Arm arm);
  FileLog(const FileLog&) = delete;
  FileLog& operator=(const FileLog&) = delete;

  // A new run: its header goes first. A file that failed in an earlier run is tried again.
  void start(std::string_view masked_line, Notice notice);
  // A new run for a server that already ran: its header, and its end line once it ends.
  void take_over(std::uint32_t process_id, Notice notice);
  // Output of the server, as received.
  void output(std::string_view bytes);
  // Ends the open run with its end line, flushed soon; nothing when no run is open.
  void end(const End& end);
  // Writes out whatever waits.
  void flush();

  // Whether the current run's file log has stopped.
  bool failed() const;

 private:
  void open_run(const std::function<std::string(const Stamp&)>& header, Notice notice);
  // With buffer_mutex_ held.
  void add(std::string_view bytes);
  bool write(std::string_view bytes);
  bool open();
  Rotation start_new_file();
  bool keep_in_place(std::string_view bytes);

  Files& files_;
  const Clock clock_;
  const Arm arm_;

  // Taken only for moments: the UI thread takes it too.
  mutable std::mutex buffer_mutex_;
  std::string buffer_;
  std::uint64_t run_ = 0;
  bool run_open_ = false;
  bool failed_ = false;
  bool at_line_start_ = true;
  // A flush at once was asked for and has not taken the buffer yet.
  bool flush_asked_ = false;
  Notice notice_;

  // Held while the files are written; taken before buffer_mutex_ when both are.
  std::mutex file_mutex_;
  // What a flush writes; cleared, not freed, so that the buffer it is swapped with next keeps its
  // room and a flood is not copied again at every growth.
  std::string writing_;
  bool open_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace server_log
