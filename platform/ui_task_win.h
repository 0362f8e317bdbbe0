// Hands work to the UI thread: a worker (or a callback that must not block its caller) posts a
// heap payload that the window procedure runs and frees.
#pragma once

#include <windows.h>

#include <functional>

namespace ui_task {

// The message that carries a payload. It is registered with the system, so that it can clash
// with none of the numbers a program counts from WM_APP.
UINT message();

// Posts task to hwnd's thread; false (and the task dropped) when the window is gone.
bool post(HWND hwnd, std::function<void()> task);

// Runs and frees a payload received with message().
void run(WPARAM payload);

}  // namespace ui_task
