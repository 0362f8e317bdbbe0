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

void ProfileFile::write(const char* section, const char* key, const std::string& value) const {
  WritePrivateProfileStringA(section, key, written_value(value).c_str(), path_.c_str());
}

Panel::Panel(Form& form, std::string program_dir)
    : form_(form), program_dir_(std::move(program_dir)), file_(settings_path(program_dir_)) {}

void Panel::load() {
  std::string as_read;
  const Values v = settings::load(file_, program_dir_, &as_read);
  form_.set_text(Field::File, as_read);
  if (v.file != as_read) form_.set_text(Field::File, v.file);
  form_.set_text(Field::WebPort, v.web_port);
  form_.set_checked(Box::Run, v.run);
  form_.set_text(Field::Ip, v.ip);
  form_.set_text(Field::User, v.user);
  form_.set_text(Field::Password, v.password);
  form_.set_checked(Box::AccessControl, v.access_control);
  if (!v.access_control) form_.enable_account_fields(false);
}

void Panel::refresh_server_folder() { server_folder_ = gbk::folder_part(form_.text(Field::File)); }

void Panel::write_file_location() { file_.write(kBasis, kFile, form_.text(Field::File)); }
void Panel::write_port() { file_.write(kBasis, kWebPort, form_.text(Field::WebPort)); }
void Panel::write_ip() { file_.write(kServer, kIp, form_.text(Field::Ip)); }
void Panel::write_user() { file_.write(kServer, kUser, form_.text(Field::User)); }
void Panel::write_password() { file_.write(kServer, kPassword, form_.text(Field::Password)); }

void Panel::toggle_access_control() {
  const bool on = form_.checked(Box::AccessControl);
  file_.write(kServer, kAccessControl, flag_text(on));
  form_.enable_account_fields(on);
}

void Panel::toggle_show_password() { form_.set_password_masked(!form_.checked(Box::ShowPassword)); }

void Panel::save() {
  for (const Entry& e : save_entries(current())) file_.write(e.section, e.key, e.value);
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
