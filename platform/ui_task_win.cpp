#include "platform/ui_task_win.h"

#include <memory>

namespace ui_task {

UINT message() {
  static const UINT registered = RegisterWindowMessageA("RivermeshTools.RunOnUiThread");
  return registered;
}

bool post(HWND hwnd, std::function<void()> task) {
  auto payload = std::make_unique<std::function<void()>>(std::move(task));
  if (!PostMessageA(hwnd, message(), reinterpret_cast<WPARAM>(payload.get()), 0)) return false;
  payload.release();  // the receiving window owns it now
  return true;
}

void run(WPARAM payload) {
  std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(payload));
  if (task && *task) (*task)();
}

}  // namespace ui_task
