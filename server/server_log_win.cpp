#include "server/server_log_win.h"

#include <algorithm>
#include <exception>

#include "platform/program_win.h"

namespace server_log {

std::string FolderFiles::path(int index) const { return folder_ + "\\" + file_name(index); }

std::optional<Files::Opened> FolderFiles::open() {
  file_.reset();
  if (!::CreateDirectoryA(folder_.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return std::nullopt;
  }
  // Others may read the log while it is written, and move it aside.
  win::unique_file file(::CreateFileA(path(0).c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return std::nullopt;
  Opened opened{static_cast<std::uint64_t>(size.QuadPart), true};
  if (opened.size > 0) {
    LARGE_INTEGER last{};
    last.QuadPart = size.QuadPart - 1;
    char byte = 0;
    DWORD got = 0;
    if (::SetFilePointerEx(file.get(), last, nullptr, FILE_BEGIN) &&
        ::ReadFile(file.get(), &byte, 1, &got, nullptr) && got == 1) {
      opened.ends_line = byte == '\n';
    }
    // Back to the end, for a system that would write where the pointer stands.
    if (!::SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_END)) return std::nullopt;
  }
  file_ = std::move(file);
  return opened;
}

bool FolderFiles::append(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!file_ || !::WriteFile(file_.get(), bytes.data(), part, &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

namespace {

// Every other answer (a sharing violation, access denied) left the file where it was.
Files::Step step_after(BOOL done) {
  if (done) return Files::Step::Done;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Files::Step::Missing
                                                                        : Files::Step::Refused;
}

}  // namespace

Files::Step FolderFiles::remove(int index) {
  return step_after(::DeleteFileA(path(index).c_str()));
}

Files::Step FolderFiles::rename(int from, int to) {
  return step_after(::MoveFileExA(path(from).c_str(), path(to).c_str(), MOVEFILE_REPLACE_EXISTING));
}

namespace {

Stamp local_time() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace

std::shared_ptr<DiskLog> DiskLog::create() {
  return std::shared_ptr<DiskLog>(new DiskLog(program::directory() + "\\" + kFolder));
}

DiskLog::DiskLog(std::string folder)
    : files_(std::move(folder)),
      // Auto-reset: each time it fires, the registered wait runs one flush and waits again.
      timer_(::CreateWaitableTimerA(nullptr, FALSE, nullptr)),
      log_(files_, local_time, [this](unsigned ms) { arm(ms); }) {
  if (timer_ && !::RegisterWaitForSingleObject(wait_.put(), timer_.get(), timer_fired, this,
                                               INFINITE, WT_EXECUTELONGFUNCTION)) {
    wait_.release();
  }
}

void DiskLog::arm(unsigned ms) {
  if (!wait_) return;  // no timer: output goes out when the buffer fills or the output ends
  LARGE_INTEGER due{};
  // Relative, in 100 ns units; at least one unit, as 0 would be an absolute time.
  due.QuadPart = -std::max<LONGLONG>(1, static_cast<LONGLONG>(ms) * 10000);
  ::SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE);
}

void CALLBACK DiskLog::timer_fired(void* context, BOOLEAN) {
  try {
    static_cast<DiskLog*>(context)->log_.flush();
  } catch (const std::exception&) {
    // Out of memory: this output is lost, the next flush tries again.
  }
}

}  // namespace server_log
