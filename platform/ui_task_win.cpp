#include "platform/ui_task_win.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

namespace ui_task {

namespace {

struct Queued {
  std::uint64_t id;
  std::function<void()> task;
};

std::mutex g_mutex;
std::deque<Queued> g_queue;
std::uint64_t g_last_id = 0;

}  // namespace

UINT message() {
  static const UINT registered = RegisterWindowMessageA("RivermeshTools.RunOnUiThread");
  return registered;
}

bool post(HWND hwnd, std::function<void()> task) {
  std::uint64_t id = 0;
  {
    const std::lock_guard<std::mutex> lock(g_mutex);
    id = ++g_last_id;
    g_queue.push_back({id, std::move(task)});
  }
  if (PostMessageA(hwnd, message(), 0, 0)) return true;
  // No window will run it: it must not wait in the queue for ever.
  const std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_queue.begin(); it != g_queue.end(); ++it) {
    if (it->id == id) {
      g_queue.erase(it);
      break;
    }
  }
  return false;
}

void run() {
  // One at a time and outside the lock: a task may queue another, or wait in a message loop
  // that runs the next ones, which then still go oldest first.
  for (;;) {
    std::function<void()> task;
    {
      const std::lock_guard<std::mutex> lock(g_mutex);
      if (g_queue.empty()) return;
      task = std::move(g_queue.front().task);
      g_queue.pop_front();
    }
    if (task) task();
  }
}

}  // namespace ui_task
