#include "server/watch_win.h"

namespace server {

void ProcessWatch::watch(DWORD pid, HWND window, UINT message) {
  cancel();
  target_ = std::make_unique<Target>(Target{window, message, ++last_token_});
  process_.reset(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process_ || !::RegisterWaitForSingleObject(&wait_, process_.get(), ended, target_.get(),
                                                  INFINITE, WT_EXECUTEONLYONCE)) {
    // Gone before it could be watched, or not to be watched: say so now rather than never.
    wait_ = nullptr;
    ::PostMessageA(window, message, target_->token, 0);
  }
}

void ProcessWatch::cancel() {
  if (wait_) {
    // Waits until a notice under way has been posted, so that its target is not freed under it.
    ::UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
    wait_ = nullptr;
  }
  process_.reset();
  target_.reset();
}

void CALLBACK ProcessWatch::ended(void* context, BOOLEAN) {
  const auto* target = static_cast<const Target*>(context);
  ::PostMessageA(target->window, target->message, target->token, 0);
}

}  // namespace server
