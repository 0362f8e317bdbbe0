#include "server/console_win.h"

#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "server/console_ctrl_win.h"
#include "server/console_text.h"
#include "server/launch.h"
#include "server/server_log_win.h"

namespace console {
namespace {

// A pipe holds more than this only when the server writes faster than anyone could read.
constexpr DWORD kReadBytes = 64 * 1024;
// The output pipe's buffer: the server writes on while the reader hands a read to the window,
// instead of waiting for every read in turn.
constexpr DWORD kPipeBytes = 1024 * 1024;
// How long the end of a shell may take before the pipes are closed behind it.
constexpr DWORD kShellEndMs = 1000;

// The log file never holds up the reader: whatever goes wrong there, the pipe is drained.
void keep_on_disk(server_log::DiskLog* disk, std::string_view bytes) noexcept {
  if (disk == nullptr) return;
  try {
    if (bytes.empty()) {
      disk->log().flush();
    } else {
      disk->log().output(bytes);
    }
  } catch (const std::exception&) {
    // Out of memory: these bytes are not kept on disk.
  }
}

// The reader's thread: drains the pipe as fast as the shell and the server write, until every
// process holding its write end is gone. Every byte goes to the log file as received, and to the
// window as whole characters.
void read_output(HANDLE pipe_handle, std::shared_ptr<Inbox> inbox,
                 std::shared_ptr<server_log::DiskLog> disk) noexcept {
  const win::unique_handle pipe(pipe_handle);
  // Draining comes before showing: a server that floods its output must not wait for the window.
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
  try {
    ChunkDecoder decoder;
    std::vector<char> buffer(kReadBytes);
    DWORD got = 0;
    while (::ReadFile(pipe.get(), buffer.data(), kReadBytes, &got, nullptr) && got > 0) {
      const std::string_view bytes(buffer.data(), got);
      keep_on_disk(disk.get(), bytes);
      if (inbox) inbox->put(decoder.feed(bytes));
    }
    if (inbox) inbox->put(decoder.flush());
  } catch (const std::exception&) {
    // Out of memory: the log stops here, the shell and the server are not affected.
  }
  // The end of the output is an end of the run: nothing of it may wait for the timer.
  keep_on_disk(disk.get(), {});
}

// A job whose processes end when its last handle closes, which the system does when the program
// ends, also when it is killed or crashes. Null where the platform refuses one.
win::unique_handle kill_on_close_job() {
  win::unique_handle job(::CreateJobObjectA(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
    job.reset();
  }
  return job;
}

// The program's environment for the shell, without what would keep it from running the script
// and the server from its own folder. Empty when it cannot be read: the shell then gets the
// program's own.
std::wstring environment_for_shell() {
  struct free_strings {
    void operator()(wchar_t* block) const { ::FreeEnvironmentStringsW(block); }
  };
  const std::unique_ptr<wchar_t, free_strings> block(::GetEnvironmentStringsW());
  if (!block) return {};
  std::size_t size = 0;
  while (block.get()[size] != L'\0' || block.get()[size + 1] != L'\0') ++size;
  return launch::shell_environment(std::wstring_view(block.get(), size + 2));
}

}  // namespace

void Inbox::put(std::string_view text) {
  if (text.empty()) return;
  bool tell = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending_.append(text);
    // Never more than the log holds waits here; trimmed in large steps, so that a flood does not
    // move all of it on every read.
    if (pending_.size() > 2 * kLogCap) pending_.erase(0, front_cut(pending_, kLogCap));
    tell = !std::exchange(notified_, true);
  }
  if (tell && !::PostMessageA(window_, message_, reinterpret_cast<WPARAM>(this), 0)) {
    // The window is gone or its queue is full: the next output tries again.
    const std::lock_guard<std::mutex> lock(mutex_);
    notified_ = false;
  }
}

std::string Inbox::take_all() {
  std::string all;
  const std::lock_guard<std::mutex> lock(mutex_);
  all.swap(pending_);
  notified_ = false;
  return all;
}

bool Console::launch(const std::string& folder, std::shared_ptr<Inbox> output, HANDLE notices) {
  release(0);
  const std::optional<std::string> log_line = std::exchange(next_log_line_, std::nullopt);
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  win::unique_handle input_read, input_write, output_read, output_write;
  if (!::CreatePipe(input_read.put(), input_write.put(), &inheritable, 0) ||
      !::CreatePipe(output_read.put(), output_write.put(), &inheritable, kPipeBytes)) {
    return false;
  }
  // Only the shell's ends go to the shell: with ours inherited, the shell and the server would
  // keep their own pipes open and never see an end.
  ::SetHandleInformation(input_write.get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(output_read.get(), HANDLE_FLAG_INHERIT, 0);

  // Zeroed, not the program's own: that would hand the C runtime's handle table to the shell.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = input_read.get();
  startup.hStdOutput = output_write.get();
  startup.hStdError = output_write.get();
  char system_folder[MAX_PATH] = {};
  const UINT folder_length = ::GetSystemDirectoryA(system_folder, MAX_PATH);
  if (folder_length == 0 || folder_length >= MAX_PATH) return false;
  const std::string shell = launch::shell_path(system_folder);
  std::string command = launch::shell_command_line(system_folder);
  std::wstring environment = environment_for_shell();
  // A shell made while the program ignores Ctrl+C would ignore every stop's.
  before_shell();
  PROCESS_INFORMATION created{};
  // Suspended until it is in the job, so that nothing it starts escapes the job. A console of
  // its own, without a window, takes the Ctrl+C a stop sends and nobody else's: Wine would
  // otherwise hand down the console of whoever started the program.
  DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
  if (!environment.empty()) flags |= CREATE_UNICODE_ENVIRONMENT;
  if (!::CreateProcessA(shell.c_str(), command.data(), nullptr, nullptr, TRUE, flags,
                        environment.empty() ? nullptr : environment.data(), folder.c_str(),
                        &startup, &created)) {
    return false;
  }
  shell_.reset(created.hProcess);
  const win::unique_handle thread(created.hThread);
  job_ = kill_on_close_job();
  if (job_ && notices != nullptr) {
    // Attached before the shell is in the job, so that no process of it goes unreported.
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT port{job_.get(), notices};
    ::SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation, &port,
                              sizeof port);
  }
  // A program that runs in a job itself may not be allowed to make another: go on without.
  if (job_ && !::AssignProcessToJobObject(job_.get(), shell_.get())) job_.reset();
  // The header goes in before the shell can print anything.
  if (log_line) start_log(*log_line, output);
  ::ResumeThread(thread.get());
  // From here only the shell and what it starts hold the output's write end, so the reader sees
  // the end of the output once they are all gone.
  output_write.reset();
  input_read_ = std::move(input_read);
  input_write_ = std::move(input_write);

  try {
    // Without a log box the output still goes to the file.
    if (output || disk_log_) {
      std::thread(read_output, output_read.get(), std::move(output), disk_log_).detach();
      output_read.release();  // the reader owns it now
    }
  } catch (const std::exception&) {
    // No reader: the shell still runs the server; its output is lost.
  }
  return true;
}

void Console::log_next_start(const launch::Fields& fields) {
  next_log_line_ = server_log::masked_command_line(fields);
}

void Console::log_taken_over(DWORD server_id, const std::shared_ptr<Inbox>& inbox) {
  start_log({}, inbox, server_id);
}

void Console::start_log(const std::string& line, const std::shared_ptr<Inbox>& inbox,
                        DWORD taken_over) {
  try {
    if (!disk_log_) disk_log_ = server_log::DiskLog::create();
    // The run's own log tab hears of a file that cannot be written; a later run's tab does not.
    const std::weak_ptr<Inbox> tab = inbox;
    auto notice = [tab](std::string_view text) {
      if (const auto inbox = tab.lock()) inbox->put(text);
    };
    if (taken_over != 0) {
      disk_log_->log().take_over(taken_over, notice);
    } else {
      disk_log_->log().start(line, notice);
    }
  } catch (const std::exception&) {
    // Out of memory: this run is not kept on disk; the server starts all the same.
  }
}

void Console::log_note(std::string_view line) { keep_on_disk(disk_log_.get(), line); }

void Console::log_end(const server_log::End& end) {
  if (!disk_log_) return;
  try {
    disk_log_->log().end(end);
    if (end.kind == server_log::End::Kind::ProgramExit) disk_log_->log().flush();
  } catch (const std::exception&) {
    // Out of memory: the end line is missing; the next header still starts a line of its own.
  }
}

void Console::write_line(std::string_view line) {
  if (!input_write_) return;
  std::string bytes(line);
  bytes += "\r\n";
  DWORD written = 0;
  ::WriteFile(input_write_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

bool Console::input_taken() const {
  DWORD available = 0;
  if (!input_read_ ||
      !::PeekNamedPipe(input_read_.get(), nullptr, 0, nullptr, &available, nullptr)) {
    return true;
  }
  return available == 0;
}

void Console::release(UINT exit_code) {
  if (shell_ && ::WaitForSingleObject(shell_.get(), 0) == WAIT_TIMEOUT) {
    // Ended before its input closes: at the end of its input the shell would end by itself
    // with an exit code of its own.
    ::TerminateProcess(shell_.get(), exit_code);
    ::WaitForSingleObject(shell_.get(), kShellEndMs);
  }
  shell_.reset();
  // Whatever the shell started and left behind ends with the job.
  job_.reset();
  input_write_.reset();
  input_read_.reset();
}

}  // namespace console
