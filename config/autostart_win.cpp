#include "config/autostart_win.h"

#include "config/settings.h"
#include "config/settings_win.h"
#include "platform/handles_win.h"

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

namespace {

class CheckboxUi final : public Ui {
 public:
  CheckboxUi(HWND owner, HWND checkbox, const std::string& settings_file)
      : owner_(owner), checkbox_(checkbox), settings_file_(settings_file) {}

  void show_error(const std::string& text) override {
    MessageBoxA(owner_, text.c_str(), "错误", MB_OK | MB_TASKMODAL);
  }
  // BM_SETCHECK raises no BN_CLICKED, so the handler does not run again.
  void put_back(bool checked) override {
    SendMessageA(checkbox_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  bool record(bool on) override {
    return settings::ProfileFile(settings_file_)
        .write(settings::kBasis, settings::kRun, settings::flag_text(on));
  }

 private:
  HWND owner_;
  HWND checkbox_;
  const std::string& settings_file_;
};

}  // namespace

void on_checkbox_clicked(HWND owner, HWND checkbox, const std::string& program_path,
                         const std::string& settings_file) {
  const bool now_checked = SendMessageA(checkbox, BM_GETCHECK, 0, 0) == BST_CHECKED;
  MachineRegistry registry;
  CheckboxUi ui(owner, checkbox, settings_file);
  toggled(now_checked, program_path, registry, ui);
}

}  // namespace autostart
