// Start at login: the program's value under the machine-wide Run key, and what a click on the
// "开机启动" checkbox does with it. A change counts only once reading it back agrees; only then is
// it recorded in config.ini.
#pragma once

#include <string>
#include <string_view>

namespace autostart {

inline constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kValueName[] = "Rivermesh Tools";

inline constexpr char kSetFailed[] =
    "设置开机启动失败！可能是没有权限导致的，请尝试[以管理员方式运行] Rivermesh Tools 重试。";
inline constexpr char kUnsetFailed[] =
    "取消开机启动失败！可能是没有权限导致的，请尝试[以管理员方式运行] Rivermesh Tools 重试。";

// The registry calls the Run-key operation needs, all on HKEY_LOCAL_MACHINE. Failures show only
// through the read-back, so only that and the value delete report anything.
class Registry {
 public:
  virtual ~Registry() = default;
  // Opens the key for writing, creating it when it cannot be opened, and sets a text value.
  virtual void set_text(const std::string& key, const std::string& name,
                        const std::string& data) = 0;
  virtual bool delete_value(const std::string& key, const std::string& name) = 0;
  virtual void delete_key(const std::string& path) = 0;
  // Only presence counts, not the value's type or data.
  virtual bool has_value(const std::string& key, const std::string& name) = 0;
};

enum class Op { Write, Delete, Test };

// The Run-key operation for the value under name; its answer means something for Test only.
bool run_key(Registry& registry, Op op, const std::string& name, const std::string& data = {});

// What the Run value holds for a program at this path: the path in double quotes.
std::string value_data(std::string_view program_path);

// What the checkbox click handler acts on.
class Ui {
 public:
  virtual ~Ui() = default;
  virtual void show_error(const std::string& text) = 0;
  // Sets the checkbox without raising its click handler.
  virtual void put_back(bool checked) = 0;
  // Records a verified state in config.ini.
  virtual void record(bool on) = 0;
};

// The checkbox was clicked and is now checked or not.
void toggled(bool now_checked, std::string_view program_path, Registry& registry, Ui& ui);

}  // namespace autostart
