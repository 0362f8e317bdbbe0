#include "platform/message_pump_win.h"

namespace pump {

bool handle_waiting_messages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return true;
}

bool wait(DWORD timeout_ms, HANDLE object, const std::function<bool()>& check, DWORD poll_ms) {
  const DWORD started = ::GetTickCount();
  const DWORD handles = object ? 1 : 0;
  while (true) {
    if (check && check()) return true;
    const DWORD elapsed = ::GetTickCount() - started;
    if (elapsed >= timeout_ms) return false;
    DWORD slice = timeout_ms - elapsed;
    if (check && slice > poll_ms) slice = poll_ms;
    const DWORD woke =
        ::MsgWaitForMultipleObjects(handles, object ? &object : nullptr, FALSE, slice, QS_ALLINPUT);
    if (object && woke == WAIT_OBJECT_0) return true;
    if (woke == WAIT_OBJECT_0 + handles && !handle_waiting_messages()) return false;
    if (woke == WAIT_FAILED) return false;
  }
}

}  // namespace pump
