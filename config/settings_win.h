// The settings file on disk and the handlers that keep it in step with the controls.
#pragma once

#include <string>

#include "app/main_window_win.h"
#include "config/settings.h"

namespace settings {

// config.ini, read and written through the profile API.
class ProfileFile final : public Source {
 public:
  explicit ProfileFile(std::string path) : path_(std::move(path)) {}
  std::string read(const char* section, const char* key, const char* fallback) override;
  bool exists(const std::string& path) override;
  void write(const char* section, const char* key, const std::string& value) const;

 private:
  std::string path_;
};

// Loads the controls, writes each one back when it is left or changed, saves, browses and
// takes dropped files.
class Panel {
 public:
  Panel(MainWindow& window, std::string program_dir);

  void load();
  void refresh_server_folder();
  const std::string& server_folder() const { return server_folder_; }

  void write_file_location();
  void write_port();
  void write_ip();
  void write_user();
  void write_password();
  void toggle_access_control();
  void toggle_show_password();
  void save();
  void browse();
  void dropped(const std::string& text);

 private:
  Values current() const;
  void enable_account_fields(bool on);

  MainWindow& window_;
  std::string program_dir_;
  ProfileFile file_;
  std::string server_folder_;
};

}  // namespace settings
