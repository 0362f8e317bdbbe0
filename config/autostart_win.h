// The Run key in the registry, the "开机启动" checkbox's click handler, and the elevated run that
// changes the key for a copy without the rights.
#pragma once

#include <windows.h>

#include <memory>
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

// The elevated run itself (the program started with the change switch): the change for the
// program's own path; the answer is the process's exit code.
int run_change(Change request);

// The checkbox's click handler, and the elevated run it waits for. The run is asked for and
// waited for on a worker, since the consent prompt stands for as long as the user leaves it; its
// end comes back on the UI thread. The checkbox is greyed meanwhile.
class Checkbox {
 public:
  Checkbox() = default;
  Checkbox(const Checkbox&) = delete;
  Checkbox& operator=(const Checkbox&) = delete;

  // owner is the main window (owner of the error message and of the system's consent prompt),
  // checkbox the clicked control, settings_file the config.ini to record a verified change in.
  void clicked(HWND owner, HWND checkbox, const std::string& program_path,
               const std::string& settings_file);

 private:
  class WindowUi;
  // The worker's end finds it only while it is the run under way: once the checkbox is gone, or
  // has stopped waiting, the end is dropped.
  struct Run {
    Checkbox* box;
    Elevation change;
  };

  bool elevate(const Elevation& change);
  void ended(const Run& run);

  HWND owner_ = nullptr;
  HWND checkbox_ = nullptr;
  std::string program_path_;
  std::string settings_file_;
  std::shared_ptr<Run> run_;  // the elevated run under way, if any
};

}  // namespace autostart
