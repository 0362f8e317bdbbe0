// Hands work to the UI thread: a worker (or a callback that must not block its caller) queues a
// task and wakes the window, whose procedure runs the queued tasks. The tasks stay in this
// process; the message carries nothing, since any program on the desktop can post it.
#pragma once

#include <windows.h>

#include <functional>

namespace ui_task {

// The message that wakes the window. It is registered with the system, so that it can clash
// with none of the numbers a program counts from WM_APP.
UINT message();

// Queues task for hwnd's thread; false (and the task dropped) when the window is gone.
bool post(HWND hwnd, std::function<void()> task);

// Runs the queued tasks, oldest first, on receipt of message(). Its parameters are not
// looked at: a message from elsewhere only runs our own tasks early.
void run();

}  // namespace ui_task
