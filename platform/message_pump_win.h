// Waiting on the UI thread without freezing the window: window messages keep being handled.
#pragma once

#include <windows.h>

#include <functional>

namespace pump {

// Runs the handlers of the messages waiting for this thread. False when a quit request came; it
// is put back for the message loop.
bool handle_waiting_messages();

// Handles window messages until timeout_ms has passed, `object` (when given) is signalled, or
// check() (when given, asked every poll_ms while it answers false) answers true. Answers whether
// the wait ended for the object or the check, and false after a quit request as well.
bool wait(DWORD timeout_ms, HANDLE object = nullptr, const std::function<bool()>& check = {},
          DWORD poll_ms = 5);

}  // namespace pump
