#include "server/server_log.h"

#include <algorithm>
#include <utility>

namespace server_log {

std::string file_name(int index) {
  if (index == 0) return "server.log";
  return "server." + std::to_string(index == kMovingNewest ? 0 : index) + ".log";
}

namespace {

// Zero-padded to at least `width` digits, as "%0Nd" writes it. By hand: the C library's formatter
// brought 25 KB (its floating-point conversions among them) into a program that formats nothing
// else.
void append_padded(std::string& out, int value, std::size_t width) {
  if (value < 0) {
    out += '-';
    value = -value;
  }
  const std::string digits = std::to_string(value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

}  // namespace

std::string stamp_text(const Stamp& s) {
  std::string text;
  append_padded(text, s.year, 4);
  text += '-';
  append_padded(text, s.month, 2);
  text += '-';
  append_padded(text, s.day, 2);
  text += ' ';
  append_padded(text, s.hour, 2);
  text += ':';
  append_padded(text, s.minute, 2);
  text += ':';
  append_padded(text, s.second, 2);
  return text;
}

std::string masked_command_line(const launch::Fields& fields) {
  launch::Fields masked = fields;
  masked.password = kMask;
  return launch::command_line(masked);
}

std::string start_line(const Stamp& stamp, std::string_view masked_line) {
  std::string line = "==== " + stamp_text(stamp) + " 启动：";
  line += masked_line;
  line += "\r\n";
  return line;
}

std::string taken_over_line(const Stamp& stamp, std::uint32_t process_id) {
  return "==== " + stamp_text(stamp) + " 接管：已在运行的进程 " + std::to_string(process_id) +
         "（它的输出无法记录）\r\n";
}

std::string end_line(const Stamp& stamp, const End& end) {
  std::string line = "==== " + stamp_text(stamp) + " 结束：";
  switch (end.kind) {
    case End::Kind::Stop:
      line += "停止";
      break;
    case End::Kind::ExitCode:
      line += "退出码 ";
      line += end.code ? std::to_string(*end.code) : std::string("未知");
      break;
    case End::Kind::ProgramExit:
      line += "程序退出";
      break;
    case End::Kind::StartFailed:
      line += "启动失败";
      break;
    case End::Kind::Unrecorded:
      line += "未记录";
      break;
  }
  line += "\r\n";
  return line;
}

Split split(std::uint64_t size, std::uint64_t bytes) {
  Split result;
  if (size < kFileCap) result.first = std::min<std::uint64_t>(bytes, kFileCap - size);
  const std::uint64_t rest = bytes - result.first;
  result.rotations = (rest + kFileCap - 1) / kFileCap;
  return result;
}

Rotation rotate(Files& files) {
  struct Move {
    int from, to;
  };
  // server.log aside, the oldest aside, each older file up, server.log into the freed place.
  Move moves[kOldFiles + 2];
  int count = 0;
  moves[count++] = {0, kMovingNewest};
  moves[count++] = {kOldFiles, kMovingOldest};
  for (int i = kOldFiles - 1; i >= 1; --i) moves[count++] = {i, i + 1};
  moves[count++] = {kMovingNewest, 1};

  // What moved, to be taken back in reverse; a missing file moved nothing and has nothing to undo.
  bool moved[kOldFiles + 2] = {};
  for (int i = 0; i < count; ++i) {
    const Files::Step step = files.rename(moves[i].from, moves[i].to);
    if (step == Files::Step::Missing && i == 0) return Rotation::Done;
    if (step != Files::Step::Refused) {
      moved[i] = step == Files::Step::Done;
      continue;
    }
    bool undone = true;
    for (int j = i - 1; j >= 0; --j) {
      if (moved[j] && files.rename(moves[j].to, moves[j].from) != Files::Step::Done) {
        undone = false;
      }
    }
    return undone ? Rotation::Unchanged : Rotation::Broken;
  }
  // All has moved; an oldest file that cannot be deleted now is replaced by the next rotation.
  files.remove(kMovingOldest);
  return Rotation::Done;
}

FileLog::FileLog(Files& files, Clock clock, Arm arm)
    : files_(files), clock_(std::move(clock)), arm_(std::move(arm)) {}

void FileLog::add(std::string_view bytes) {
  if (bytes.empty() || failed_) return;
  buffer_.append(bytes);
  at_line_start_ = bytes.back() == '\n';
}

void FileLog::start(std::string_view masked_line, Notice notice) {
  open_run([masked_line](const Stamp& stamp) { return start_line(stamp, masked_line); },
           std::move(notice));
}

void FileLog::take_over(std::uint32_t process_id, Notice notice) {
  open_run([process_id](const Stamp& stamp) { return taken_over_line(stamp, process_id); },
           std::move(notice));
}

void FileLog::open_run(const std::function<std::string(const Stamp&)>& header, Notice notice) {
  const std::lock_guard<std::mutex> lock(buffer_mutex_);
  const bool was_empty = buffer_.empty();
  // The header starts a line of its own, also after a run whose last line was cut off; a run
  // still open is closed first, so that no run is taken for another one's.
  if (!at_line_start_) add("\r\n");
  if (run_open_) add(end_line(clock_(), End::unrecorded()));
  ++run_;
  failed_ = false;
  run_open_ = true;
  notice_ = std::move(notice);
  if (!at_line_start_) add("\r\n");
  add(header(clock_()));
  if (was_empty) arm_(kFlushMs);
}

void FileLog::output(std::string_view bytes) {
  bool write_now = false;
  {
    const std::lock_guard<std::mutex> lock(buffer_mutex_);
    if (failed_ || bytes.empty()) return;
    const bool was_empty = buffer_.empty();
    add(bytes);
    write_now = buffer_.size() >= kMaxBufferBytes;
    if (!write_now && buffer_.size() >= kBufferBytes && !flush_asked_) {
      flush_asked_ = true;
      arm_(0);
    } else if (was_empty) {
      arm_(kFlushMs);
    }
  }
  if (write_now) flush();
}

void FileLog::end(const End& end) {
  const std::lock_guard<std::mutex> lock(buffer_mutex_);
  if (!std::exchange(run_open_, false) || failed_) return;
  if (!at_line_start_) add("\r\n");
  add(end_line(clock_(), end));
  arm_(0);
}

void FileLog::flush() {
  const std::lock_guard<std::mutex> file_lock(file_mutex_);
  // Room as a flood needs it is kept; what only a stalled flush needed goes back.
  constexpr std::size_t kKeptRoom = 1024 * 1024;
  if (writing_.capacity() > kKeptRoom) {
    std::string().swap(writing_);
  } else {
    writing_.clear();
  }
  std::uint64_t run = 0;
  {
    const std::lock_guard<std::mutex> lock(buffer_mutex_);
    writing_.swap(buffer_);
    run = run_;
    flush_asked_ = false;
  }
  if (writing_.empty() || write(writing_)) return;
  // The file stays closed until the next run tries again: a locked or full file is not
  // hammered at every read.
  files_.close();
  open_ = false;
  Notice notice;
  {
    const std::lock_guard<std::mutex> lock(buffer_mutex_);
    if (run != run_ || failed_) return;
    failed_ = true;
    buffer_.clear();
    notice = notice_;
  }
  if (notice) notice(kFailedNotice);
}

bool FileLog::failed() const {
  const std::lock_guard<std::mutex> lock(buffer_mutex_);
  return failed_;
}

bool FileLog::open() {
  const std::optional<Files::Opened> opened = files_.open();
  if (!opened) return false;
  open_ = true;
  size_ = opened->size;
  // What follows starts a line of its own, also after the last words of a killed program; a file
  // too full for the line break is about to move up anyway.
  if (!opened->ends_line && size_ + 2 <= kFileCap) {
    if (!files_.append("\r\n")) return false;
    size_ += 2;
  }
  return true;
}

bool FileLog::write(std::string_view bytes) {
  if (!open_ && !open()) return false;
  const Split pieces = split(size_, bytes.size());
  if (pieces.first > 0) {
    if (!files_.append(bytes.substr(0, pieces.first))) return false;
    size_ += pieces.first;
    bytes.remove_prefix(pieces.first);
  }
  for (std::uint64_t i = 0; i < pieces.rotations; ++i) {
    switch (start_new_file()) {
      case Rotation::Done:
        break;
      case Rotation::Unchanged:
        return keep_in_place(bytes);
      case Rotation::Broken:
        return false;
    }
    const std::string_view piece = bytes.substr(0, std::min<std::uint64_t>(kFileCap, bytes.size()));
    if (!files_.append(piece)) return false;
    size_ += piece.size();
    bytes.remove_prefix(piece.size());
  }
  return true;
}

// Also when no file could move, server.log is open again afterwards.
Rotation FileLog::start_new_file() {
  files_.close();
  open_ = false;
  const Rotation rotation = rotate(files_);
  if (rotation == Rotation::Broken || !open()) return Rotation::Broken;
  return rotation;
}

// A server.log that cannot move up takes the output past kFileCap, as far as kHeldFileCap; every
// later write tries the move again, so the files move up once the viewer lets go. What does not
// fit stops the run's log as a file that cannot be written does.
bool FileLog::keep_in_place(std::string_view bytes) {
  const std::uint64_t room = size_ < kHeldFileCap ? kHeldFileCap - size_ : 0;
  const std::string_view kept = bytes.substr(0, std::min<std::uint64_t>(room, bytes.size()));
  if (!kept.empty()) {
    if (!files_.append(kept)) return false;
    size_ += kept.size();
  }
  return kept.size() == bytes.size();
}

}  // namespace server_log
