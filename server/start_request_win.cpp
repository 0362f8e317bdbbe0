// The start request: the fields and the folder checked before anything runs, the web port asked
// aside, and the launch script written. What follows the request is the control's
// (server/control_win.cpp).
#include "server/control_win.h"

#include <exception>
#include <optional>
#include <string>
#include <thread>

#include "platform/handles_win.h"
#include "platform/ui_task_win.h"
#include "server/port_owner_win.h"

namespace server {

using control::Event;

void Control::start_request() {
  if (!control::handles(phase_, Event::kStart)) return;
  restarts_.clear();
  restarting_ = false;
  request_start();
}

void Control::request_start() {
  // The checks may show a message; only a control that would start goes through them.
  if (!control::handles(phase_, Event::kStart)) return;
  const launch::Fields fields = view_.fields();
  if (const auto problem = launch::first_problem(fields)) {
    view_.message(*problem, launch::kErrorCaption, true);
    return;
  }
  const std::string folder = view_.server_folder();
  if (const auto problem = launch::folder_problem(folder)) {
    view_.message(*problem, launch::kErrorCaption, false);
    return;
  }
  const std::optional<std::string> script = launch::script_path(folder);
  start_fields_ = fields;
  start_script_ = *script;
  dispatch(Event::kStart);
}

void Control::check_port() {
  const WPARAM serial = ++port_checks_;
  const HWND window = view_.window();
  const std::string port = start_fields_.port;
  const std::string ip = start_fields_.ip;
  const std::string folder = view_.server_folder();
  const std::string server = folder.empty() ? std::string() : folder + launch::kServerExe;
  const auto answer = [this, serial](std::optional<std::string> held) {
    held_port_ = held.value_or(std::string());
    dispatch(held ? Event::kPortHeld : Event::kPortFree, serial);
  };
  try {
    std::thread([window, port, ip, server, answer]() noexcept {
      try {
        std::optional<std::string> held = port_owner::held_port_message(port, ip, server, true);
        ui_task::post(window, [answer, held] { answer(held); });
      } catch (const std::exception&) {
        // Out of memory: the start goes on as if nobody held the port.
        ui_task::post(window, [answer] { answer(std::nullopt); });
      }
    }).detach();
  } catch (const std::exception&) {
    // No thread: the look-up runs here after all, without the trial bind's wait for a name.
    held_port_ = port_owner::held_port_message(port, ip, server, false).value_or(std::string());
    waiting_.insert(waiting_.begin(),
                    {held_port_.empty() ? Event::kPortFree : Event::kPortHeld, serial});
  }
}

bool Control::write_script(const std::string& path, const launch::Fields& fields) const {
  const std::string line = launch::command_line(fields);
  // Readers that let others write (a viewer, an editor, the shell of an earlier start) do not fail
  // the start; a program that holds the file shut does.
  const win::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
         written == line.size();
}

}  // namespace server
