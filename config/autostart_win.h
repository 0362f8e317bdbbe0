// The Run key in the registry, and the "开机启动" checkbox's click handler.
#pragma once

#include <windows.h>

#include <string>

#include "config/autostart.h"

namespace autostart {

// HKEY_LOCAL_MACHINE in the registry view the program itself sees: no view flag is given.
class MachineRegistry final : public Registry {
 public:
  void set_text(const std::string& key, const std::string& name, const std::string& data) override;
  bool delete_value(const std::string& key, const std::string& name) override;
  void delete_key(const std::string& path) override;
  std::optional<std::string> read_value(const std::string& key, const std::string& name) override;
};

// The click handler: owner is the main window (owner of the error message), checkbox the
// clicked control, settings_file the config.ini to record a verified change in.
void on_checkbox_clicked(HWND owner, HWND checkbox, const std::string& program_path,
                         const std::string& settings_file);

}  // namespace autostart
