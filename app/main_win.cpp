#include <windows.h>

#include <commctrl.h>
#include <sddl.h>

#include "app/app_win.h"
#include "app/instance.h"
#include "config/autostart.h"
#include "config/autostart_win.h"
#include "platform/delay_load_win.h"
#include "platform/gbk.h"
#include "platform/handles_win.h"
#include "platform/program_win.h"
#include "server/process_win.h"
#include "tray/tray_icon_win.h"

namespace {

// The program's folder by what the file system knows it by, so that a start through a link or
// another drive letter meets the copy that runs; by its path where it cannot be opened.
std::string instance_key() {
  const std::string exe = program::listed_path(program::path());
  if (const auto id = program::identity(gbk::folder_part(exe))) return instance::key(*id);
  return instance::key(exe);
}

// Opened, not only made, by a copy of another user: only waiting is asked for, and everyone may.
HANDLE create_machine_mutex(const std::string& name) {
  win::unique_hlocal descriptor;
  PSECURITY_DESCRIPTOR made = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(instance::kMachineMutexAccess,
                                                           SDDL_REVISION_1, &made, nullptr)) {
    descriptor.reset(made);
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  HANDLE mutex = CreateMutexExA(descriptor ? &attributes : nullptr, name.c_str(), 0, SYNCHRONIZE);
  const DWORD error = GetLastError();
  descriptor.reset();
  SetLastError(error);
  return mutex;
}

instance::Start how_started() {
  if (autostart::started_at_login(GetCommandLineA())) return instance::Start::Login;
  return proc::started_by_explorer() ? instance::Start::DesktopShell : instance::Start::Other;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  platform::search_system_folder_only();
  // The elevated run that changes the Run value: it is no second copy and shows nothing.
  if (const autostart::Change change = autostart::change_request(GetCommandLineA());
      change != autostart::Change::None) {
    return autostart::run_change(change);
  }

  static_assert(instance::kErrorAccessDenied == ERROR_ACCESS_DENIED);
  static_assert(instance::kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
  // One copy per program folder on the machine: a second one would add an icon and fight over
  // the server and its port. The session's mutex first: held already, the copy that holds it
  // runs on this desktop. The machine's then: held by then, it is a copy of another session's.
  const std::string key = instance_key();
  const UINT show_request = RegisterWindowMessageA(instance::show_message_name(key).c_str());
  const win::unique_handle in_session(
      CreateMutexA(nullptr, FALSE, instance::session_mutex_name(key).c_str()));
  const bool session_taken =
      instance::already_running(static_cast<bool>(in_session), GetLastError());
  win::unique_handle on_machine;
  bool machine_taken = false;
  if (!session_taken) {
    on_machine.reset(create_machine_mutex(instance::machine_mutex_name(key)));
    machine_taken = instance::already_running(static_cast<bool>(on_machine), GetLastError());
  }
  // How it was started costs a look at the process list: only a copy that meets another asks.
  const instance::Action action =
      session_taken || machine_taken ? instance::decide(session_taken, machine_taken, how_started())
                                     : instance::Action::Run;
  switch (action) {
    case instance::Action::Run:
      break;
    case instance::Action::BringForward:
      // A double click on the program means "show me the program": the copy that runs does.
      AllowSetForegroundWindow(ASFW_ANY);
      PostMessageA(HWND_BROADCAST, show_request, 0, 0);
      return 0;
    case instance::Action::SayOtherUser:
      MessageBoxA(nullptr, instance::kOtherUser, instance::kOtherUserCaption,
                  MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
      return 0;
    case instance::Action::EndQuietly:
      return 0;
  }

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  int code = 0;
  {
    // Program-wide objects, made before the window exists and gone when the program ends.
    tray::TrayIcon tray;
    App app(tray, show_request);
    code = app.run(instance);
  }
  return code;
}
