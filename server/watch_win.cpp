#include "server/watch_win.h"

#include "server/process_rules.h"
#include "server/process_win.h"

namespace server {

void ProcessWatch::watch(DWORD pid, std::string_view name, HWND window, UINT message,
                         DWORD look_ms) {
  cancel();
  target_ = std::make_unique<Target>();
  target_->window = window;
  target_->message = message;
  target_->token = ++last_token_;
  target_->pid = pid;
  target_->name = name;
  // With the right to read its exit code where that is granted, else only to wait.
  process_.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process_) process_.reset(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  const bool opened = static_cast<bool>(process_);
  const bool listed = !opened && proc::id_has_name(proc::process_list(), pid, name);
  switch (proc::watch_way(opened, listed)) {
    case proc::WatchWay::Wait:
      if (::RegisterWaitForSingleObject(&wait_, process_.get(), ended, target_.get(), INFINITE,
                                        WT_EXECUTEONLYONCE)) {
        return;
      }
      wait_ = nullptr;
      break;
    case proc::WatchWay::Look:
      // Reporting it ended at once would have the handler find the same server and watch it
      // again, round and round.
      if (::CreateTimerQueueTimer(&look_, nullptr, looked, target_.get(), look_ms, look_ms,
                                  WT_EXECUTEDEFAULT)) {
        return;
      }
      look_ = nullptr;
      break;
    case proc::WatchWay::EndedAlready:
      break;
  }
  // Gone before it could be watched, or not to be watched: say so now rather than never.
  post(*target_);
}

void ProcessWatch::cancel() {
  // Both wait until a notice under way has been posted, so that its target is not freed under it.
  if (wait_) {
    ::UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
    wait_ = nullptr;
  }
  if (look_) {
    ::DeleteTimerQueueTimer(nullptr, look_, INVALID_HANDLE_VALUE);
    look_ = nullptr;
  }
  process_.reset();
  target_.reset();
}

std::optional<DWORD> ProcessWatch::exit_code() const {
  DWORD code = 0;
  if (!process_ || ::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process_.get(), &code)) {
    return std::nullopt;
  }
  return code;
}

void ProcessWatch::post(Target& target) {
  if (!target.posted.exchange(true)) {
    ::PostMessageA(target.window, target.message, target.token, 0);
  }
}

void CALLBACK ProcessWatch::ended(void* context, BOOLEAN) { post(*static_cast<Target*>(context)); }

void CALLBACK ProcessWatch::looked(void* context, BOOLEAN) {
  auto& target = *static_cast<Target*>(context);
  if (target.posted.load()) return;
  if (!proc::id_has_name(proc::process_list(), target.pid, target.name)) post(target);
}

}  // namespace server
