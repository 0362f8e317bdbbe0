#include "config/autostart_win.h"

#include <objbase.h>
#include <shellapi.h>

#include <thread>

#include "config/settings.h"
#include "config/settings_win.h"
#include "platform/handles_win.h"
#include "platform/program_win.h"
#include "platform/ui_task_win.h"

namespace autostart {

void MachineRegistry::set_text(const std::string& key, const std::string& name,
                               const std::string& data) {
  win::unique_hkey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_WRITE, k.put()) != ERROR_SUCCESS) {
    RegCreateKeyA(HKEY_LOCAL_MACHINE, key.c_str(), k.put());
  }
  if (!k) return;
  RegSetValueExA(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
}

bool MachineRegistry::delete_value(const std::string& key, const std::string& name) {
  win::unique_hkey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_WRITE, k.put()) != ERROR_SUCCESS) {
    return false;
  }
  return RegDeleteValueA(k.get(), name.c_str()) == ERROR_SUCCESS;
}

void MachineRegistry::delete_key(const std::string& path) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

std::optional<std::string> MachineRegistry::read_value(const std::string& key,
                                                       const std::string& name) {
  win::unique_hkey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD size = 0;
  if (RegQueryValueExA(k.get(), name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The value may change between the two calls; a second failure still means it is there.
  std::string data(size, '\0');
  if (RegQueryValueExA(k.get(), name.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
    return std::string();
  }
  data.resize(size < data.size() ? size : data.size());
  while (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

int run_change(Change request) {
  MachineRegistry registry;
  return change(request, program::path(), registry);
}

namespace {

// With the rights already, an elevated run could do no more than this copy did.
bool running_elevated() {
  win::unique_handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

// The verb may go through shell extensions that need COM, some of them a single-threaded
// apartment, on the thread that asks.
class ComApartment {
 public:
  ComApartment()
      : initialized_(
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
  }
  ~ComApartment() {
    if (initialized_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  const bool initialized_;
};

// On a worker: returns once the user has answered the consent prompt and the run has ended, or
// once the system has said why it could not start it. Either way the registry tells the outcome.
void run_elevated(HWND owner, const std::string& program, const std::string& arguments) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  // The system's own boxes stay away: a refusal shows as the program's message. The worker ends
  // right after, so the call must not hand the start to a thread of its own.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = owner;
  info.lpVerb = "runas";
  info.lpFile = program.c_str();
  info.lpParameters = arguments.c_str();
  info.nShow = SW_HIDE;
  {
    const ComApartment com;
    // The user's "no" (ERROR_CANCELLED) ends here as well.
    if (!ShellExecuteExA(&info)) return;
  }
  const win::unique_handle process(info.hProcess);
  if (process) WaitForSingleObject(process.get(), INFINITE);
}

}  // namespace

class Checkbox::WindowUi final : public Ui {
 public:
  explicit WindowUi(Checkbox& box) : box_(box) {}

  void show_error(const std::string& text) override {
    MessageBoxA(box_.owner_, text.c_str(), "错误", MB_OK | MB_TASKMODAL);
  }
  // BM_SETCHECK raises no BN_CLICKED, so the handler does not run again.
  void put_back(bool checked) override {
    SendMessageA(box_.checkbox_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  bool record(bool on) override {
    return settings::ProfileFile(box_.settings_file_)
        .write(settings::kBasis, settings::kRun, settings::flag_text(on));
  }
  void hold(bool held) override { EnableWindow(box_.checkbox_, held ? FALSE : TRUE); }
  bool elevate(const Elevation& change) override { return box_.elevate(change); }

 private:
  Checkbox& box_;
};

void Checkbox::clicked(HWND owner, HWND checkbox, const std::string& program_path,
                       const std::string& settings_file) {
  owner_ = owner;
  checkbox_ = checkbox;
  program_path_ = program_path;
  settings_file_ = settings_file;
  const bool now_checked = SendMessageA(checkbox, BM_GETCHECK, 0, 0) == BST_CHECKED;
  MachineRegistry registry;
  WindowUi ui(*this);
  toggled(now_checked, run_ != nullptr, program_path_, registry, ui);
}

bool Checkbox::elevate(const Elevation& change) {
  if (running_elevated()) return false;
  // The worker holds copies and the run only weakly: the window and the checkbox may be gone
  // before the user answers.
  auto run = std::make_shared<Run>(Run{this, change});
  const std::weak_ptr<Run> mine = run;
  const HWND window = owner_;
  try {
    std::thread([window, mine, program = program_path_,
                 arguments = change_arguments(change.on)]() noexcept {
      run_elevated(window, program, arguments);
      try {
        ui_task::post(window, [mine] {
          if (const std::shared_ptr<Run> run = mine.lock()) run->box->ended(*run);
        });
      } catch (...) {
        // Out of memory: the checkbox stays greyed rather than the program ending.
      }
    }).detach();
  } catch (...) {
    return false;  // no thread: nothing was asked
  }
  run_ = std::move(run);
  return true;
}

void Checkbox::ended(const Run& run) {
  if (run_.get() != &run) return;
  const Elevation change = run.change;
  // Cleared first: the end may ask for the undo's run.
  run_.reset();
  MachineRegistry registry;
  WindowUi ui(*this);
  elevated_ended(change, program_path_, registry, ui);
}

}  // namespace autostart
