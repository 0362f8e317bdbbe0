// Hands work to the UI thread: a worker (or a callback that must not block its caller) posts a
// heap payload that the window procedure runs and frees.
#pragma once

#include <windows.h>

#include <functional>

namespace ui_task {

// Posts task to hwnd's thread; false (and the task dropped) when the window is gone.
bool post(HWND hwnd, std::function<void()> task);

// Runs and frees a payload received with msg::kRunOnUiThread.
void run(WPARAM payload);

}  // namespace ui_task
