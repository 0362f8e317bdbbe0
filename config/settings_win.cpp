#include "config/settings_win.h"

#include <windows.h>

#include "platform/gbk.h"
#include "platform/handles_win.h"

namespace settings {

std::string ProfileFile::read(const char* section, const char* key, const char* fallback) {
  // One byte more than a value may use, so that stored_value sees whether a double-byte
  // character straddles the limit.
  std::string buf(kValueBuffer + 1, '\0');
  const DWORD n = GetPrivateProfileStringA(section, key, fallback, buf.data(),
                                           static_cast<DWORD>(buf.size()), path_.c_str());
  buf.resize(n);
  return buf;
}

bool ProfileFile::exists(const std::string& path) {
  // A hand-edited path with wildcards would otherwise "exist" whenever anything matches it.
  if (path.find_first_of("*?") != std::string::npos) return false;
  WIN32_FIND_DATAA data;
  win::unique_find find(FindFirstFileA(path.c_str(), &data));
  return static_cast<bool>(find);
}

bool ProfileFile::write(const char* section, const char* key, const std::string& value) const {
  return WritePrivateProfileStringA(section, key, written_value(value).c_str(), path_.c_str()) !=
         FALSE;
}

FileState ProfileFile::state() const {
  FileProbe probe;
  const DWORD attributes = GetFileAttributesA(path_.c_str());
  probe.found = attributes != INVALID_FILE_ATTRIBUTES;
  if (!probe.found) {
    probe.lookup_error = GetLastError();
    return file_state(probe);
  }
  probe.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (probe.folder) return file_state(probe);
  // Shared every way, so that only a holder that shares nothing (or no right to read) fails it.
  const win::unique_file file(CreateFileA(path_.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  probe.opened = static_cast<bool>(file);
  if (!probe.opened) probe.open_error = GetLastError();
  return file_state(probe);
}

Panel::Panel(Form& form, std::string program_dir)
    : form_(form), program_dir_(std::move(program_dir)), file_(settings_path(program_dir_)) {}

bool Panel::load() {
  if (file_.state() == FileState::Unreadable) {
    unreadable_ = true;
    form_.enable_account_fields(false);
    return false;
  }
  const Values v = settings::load(file_, program_dir_);
  loading_ = true;
  // A path shown in place of one that is missing now (a drive not yet there at login) stays in
  // the control only: config.ini keeps the configured one until the user saves or chooses.
  form_.set_text(Field::File, v.file);
  loading_ = false;
  if (key_missing(file_, kBasis, kFile)) report_failure(write(kBasis, kFile, v.file));
  form_.set_text(Field::WebPort, v.web_port);
  form_.set_checked(Box::Run, v.run);
  form_.set_text(Field::Ip, v.ip);
  form_.set_text(Field::User, v.user);
  form_.set_text(Field::Password, v.password);
  form_.set_checked(Box::AccessControl, v.access_control);
  if (!v.access_control) form_.enable_account_fields(false);
  return true;
}

void Panel::refresh_server_folder() { server_folder_ = gbk::folder_part(form_.text(Field::File)); }

void Panel::write_file_location() {
  if (!loading_) report_failure(write(kBasis, kFile, form_.text(Field::File)));
}
void Panel::write_port() { report_failure(write(kBasis, kWebPort, form_.text(Field::WebPort))); }
void Panel::write_ip() { report_failure(write(kServer, kIp, form_.text(Field::Ip))); }
void Panel::write_user() { report_failure(write(kServer, kUser, form_.text(Field::User))); }
void Panel::write_password() {
  report_failure(write(kServer, kPassword, form_.text(Field::Password)));
}

void Panel::toggle_access_control() {
  const bool on = form_.checked(Box::AccessControl);
  form_.enable_account_fields(on);
  report_failure(write(kServer, kAccessControl, flag_text(on)));
}

void Panel::toggle_show_password() { form_.set_password_masked(!form_.checked(Box::ShowPassword)); }

void Panel::save() {
  if (unreadable_) {
    form_.message_box(kUnreadable, kErrorCaption);
    return;
  }
  bool all = true;
  for (const Entry& e : save_entries(current())) all = write(e.section, e.key, e.value) && all;
  report_failure(all);
}

void Panel::browse() {
  const std::string chosen = form_.browse(program_dir_);
  if (chosen.empty()) return;
  form_.set_text(Field::File, chosen);
  refresh_server_folder();
}

void Panel::dropped(const std::string& text) {
  if (!accepts_dropped(text)) {
    form_.message_box("拖放文件位置只支持文件名为：rivermesh_windows_amd64.exe", "错误");
    return;
  }
  form_.set_text(Field::File, text);
  refresh_server_folder();
}

bool Panel::write(const char* section, const char* key, const std::string& value) {
  return unreadable_ || file_.write(section, key, value);
}

void Panel::report_failure(bool written) {
  if (written || reporting_) return;
  reporting_ = true;
  form_.message_box(kSaveFailed, kErrorCaption);
  reporting_ = false;
}

Values Panel::current() const {
  Values v;
  v.file = form_.text(Field::File);
  v.web_port = form_.text(Field::WebPort);
  v.ip = form_.text(Field::Ip);
  v.user = form_.text(Field::User);
  v.password = form_.text(Field::Password);
  v.run = form_.checked(Box::Run);
  v.access_control = form_.checked(Box::AccessControl);
  return v;
}

}  // namespace settings
