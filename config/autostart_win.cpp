#include "config/autostart_win.h"

#include <shellapi.h>

#include "config/settings.h"
#include "config/settings_win.h"
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
  bool elevate(const Elevation& change) override { return box_.elevate(change); }

 private:
  Checkbox& box_;
};

Checkbox::~Checkbox() {
  // Each wait is unregistered before its run goes, waiting for a notice under way.
  for (const std::unique_ptr<Run>& run : runs_) run->wait.reset();
}

void Checkbox::clicked(HWND owner, HWND checkbox, const std::string& program_path,
                       const std::string& settings_file) {
  owner_ = owner;
  checkbox_ = checkbox;
  program_path_ = program_path;
  settings_file_ = settings_file;
  const bool now_checked = SendMessageA(checkbox, BM_GETCHECK, 0, 0) == BST_CHECKED;
  MachineRegistry registry;
  WindowUi ui(*this);
  toggled(now_checked, program_path_, registry, ui);
}

bool Checkbox::elevate(const Elevation& change) {
  if (running_elevated()) return false;
  const std::string arguments = change_arguments(change.on);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  // The system's own boxes stay away: a refusal shows as the program's message.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = owner_;
  info.lpVerb = "runas";
  info.lpFile = program_path_.c_str();
  info.lpParameters = arguments.c_str();
  info.nShow = SW_HIDE;
  // Returns once the user has answered the consent prompt; the run itself is waited for off
  // this thread.
  if (!ShellExecuteExA(&info)) return false;
  auto run = std::make_unique<Run>();
  run->owner = this;
  run->window = owner_;
  run->change = change;
  run->process.reset(info.hProcess);
  if (!run->process) return false;  // nothing to wait for: its outcome is unknown
  Run* const waiting = run.get();
  runs_.push_back(std::move(run));
  if (!change.undo) EnableWindow(checkbox_, FALSE);
  if (!RegisterWaitForSingleObject(waiting->wait.put(), waiting->process.get(), process_ended,
                                   waiting, INFINITE, WT_EXECUTEONLYONCE)) {
    waiting->wait.release();
    // Nothing would tell when it ends: give it a moment here, then read what it did.
    WaitForSingleObject(waiting->process.get(), 5000);
    ui_task::post(owner_, [this, waiting] { ended(waiting); });
  }
  return true;
}

void CALLBACK Checkbox::process_ended(void* context, BOOLEAN) {
  Run* run = static_cast<Run*>(context);
  Checkbox* box = run->owner;
  try {
    ui_task::post(run->window, [box, run] { box->ended(run); });
  } catch (...) {
    // Out of memory: the checkbox stays disabled rather than the program ending.
  }
}

void Checkbox::ended(Run* run) {
  auto found = runs_.begin();
  while (found != runs_.end() && found->get() != run) ++found;
  if (found == runs_.end()) return;
  std::unique_ptr<Run> done = std::move(*found);
  runs_.erase(found);
  done->wait.reset();
  if (done->change.undo) return;
  EnableWindow(checkbox_, TRUE);
  MachineRegistry registry;
  WindowUi ui(*this);
  elevated_ended(done->change, program_path_, registry, ui);
}

}  // namespace autostart
