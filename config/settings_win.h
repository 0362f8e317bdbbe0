// The settings file on disk and the handlers that keep it in step with the controls.
#pragma once

#include <optional>
#include <string>

#include "config/settings.h"
#include "config/settings_text.h"

namespace settings {

// The controls that hold the settings, named by what they hold.
enum class Field { File, WebPort, Ip, User, Password };
enum class Box { Run, AccessControl, ShowPassword };

// What the settings handlers need of the window. The window's owner implements it and hands it
// over, so that the settings know nothing of how the window is built or laid out.
class Form {
 public:
  virtual ~Form() = default;
  virtual std::string text(Field field) const = 0;
  virtual void set_text(Field field, const std::string& text) = 0;
  virtual bool checked(Box box) const = 0;
  virtual void set_checked(Box box, bool on) = 0;
  // The account, the password and the box that shows the password in clear.
  virtual void enable_account_fields(bool on) = 0;
  virtual void set_password_masked(bool masked) = 0;
  // A file chosen by the user starting in initial_dir; empty when none was chosen.
  virtual std::string browse(const std::string& initial_dir) = 0;
  virtual void message_box(const std::string& text, const std::string& caption) = 0;
};

// config.ini, read whole and written whole. A file another program holds for a moment is tried
// again for a moment; every key read comes from the last reading (or the last write).
class ProfileFile final : public IniSource {
 public:
  explicit ProfileFile(std::string path);
  // Reads the file once. Missing gives no keys; Unreadable too (and the file must then not be
  // written).
  FileState load();
  // The same with one look only, for a reading that must not wait (on the window's thread while
  // the program runs): a file held at that moment is Unreadable.
  FileState load_at_once();
  bool exists(const std::string& path) override;
  // Writes the entries in one rewrite of the file as it is now; false when they did not reach
  // it (nothing is written then).
  bool write(const std::vector<Entry>& entries);
  bool write(const char* section, const char* key, const std::string& value);

 private:
  FileState load(bool wait_while_held);

  std::string path_;
};

// Loads the controls, writes each one back when it is left or changed, saves, browses and
// takes dropped files. A write that fails is reported once per action.
class Panel {
 public:
  Panel(Form& form, std::string program_dir);

  // False when config.ini is there but cannot be read, or holds a value the program cannot hold:
  // the controls are then left unfilled and nothing is written to the file for the rest of the
  // run.
  bool load();
  bool unreadable() const { return unreadable_; }
  // What says so to the user.
  const std::string& refusal() const { return refusal_; }
  void refresh_server_folder();
  const std::string& server_folder() const { return server_folder_; }
  // Read from the file each time, in one look that never waits: the key may be edited by hand as
  // well as by the tray menu's switch.
  AutoRestart auto_restart();
  // The switches of "设置" in the same kind of look; none when config.ini cannot be read now, or
  // could not be at start (the run writes nothing to it then).
  std::optional<Switches> switches();
  // Writes a switch as the fields are written (a failure says so); true when it reached the file.
  bool set_switch(Switch which, bool on);
  // The build last announced by balloon, from one look that never waits; empty for none.
  std::string announced_build();
  // Written without a word: should it fail, the next start announces the build once more.
  void record_announced(const std::string& build);

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
  // Writes one key unless the file could not be read; false when the write failed.
  bool write(const char* section, const char* key, const std::string& value);
  void report_failure(bool written);
  bool refuse(std::string message);

  Form& form_;
  std::string program_dir_;
  ProfileFile file_;
  std::string server_folder_;
  bool unreadable_ = false;
  std::string refusal_;
  // The controls are being filled: their change notices are no edits to write back.
  bool loading_ = false;
  // A failure box is up: the focus it takes makes fields write back, and those failures are the
  // same one.
  bool reporting_ = false;
};

}  // namespace settings
