// The main window and its tray menu, described as data: every control with its name, kind,
// parent, place, caption and behaviour, so that the window code only walks tables.
#pragma once

#include <span>
#include <string>

namespace layout {

// Control identifiers; the names are the controls' names.
enum Id : int {
  选择夹1 = 1001,
  状态条1,
  分组框1,
  透明标签1,
  编辑框_文件位置,
  按钮_浏览,
  透明标签5,
  编辑框_网页端口,
  按钮_保存,
  选择框_开机启动,
  按钮_启动,
  按钮_停止,
  透明标签2,
  编辑框_IP,
  选择框_访问控制,
  透明标签3,
  编辑框_账号,
  透明标签4,
  编辑框_密码,
  选择框_密码明文,
  编辑框_日志,
};

enum class Kind { Tab, StatusBar, GroupBox, Label, Edit, Button, CheckBox };
enum class Parent { Main, Tab, Group };

// Behaviour flags of a control.
enum Flag : unsigned {
  kNone = 0,
  kReadOnly = 1u << 0,
  kPassword = 1u << 1,
  kPortInput = 1u << 2,  // typed characters other than 0-9 and '-' are ignored
  kDisabled = 1u << 3,
  kLog = 1u << 4,     // multi-line, scroll bars, no wrap, thin border, own font
  kWidens = 1u << 5,  // grows with the window when the log tab is selected
};

struct Control {
  Id id;
  Kind kind;
  Parent parent;
  int page;  // tab page that shows it: 0 or 1; -1 when it belongs to no page
  int x, y, width, height;
  const char* caption;
  unsigned flags;
  // Most bytes the user can type or paste into an edit box; 0 for no limit.
  unsigned max_input = 0;
};

// What a setting that goes on the server's command line may hold: the profile reader gives back
// far longer values, but the start refuses them, so the boxes take no more.
inline constexpr unsigned kMaxValueInput = 255;
// A port has at most five digits.
inline constexpr unsigned kMaxPortInput = 5;

std::span<const Control> controls();
const Control* find(Id id);

inline constexpr char kCaption[] = "Rivermesh Tools";
// Shown for a dropped or chosen path that code page 936 cannot hold as it is: stored, it would
// name another file.
inline constexpr char kPathNotKept[] =
    "文件位置含有系统编码（GBK）不支持的字符，请将 rivermesh_windows_amd64.exe "
    "放到路径只含中文、英文和数字的文件夹中！";
inline constexpr int kWidth = 410;
inline constexpr int kHeight = 370;
// Selecting the log tab widens the window, the tab control and the log by this much.
inline constexpr int kLogWidening = 200;

inline constexpr char kDisplayVersion[] = "1.0.2";
inline constexpr char kBuildNumber[] = "3";
std::string versioned_title();

inline constexpr char kTabConfig[] = "配置";
inline constexpr char kTabLog[] = "日志";

inline constexpr char kLogFontFace[] = "黑体";
inline constexpr int kLogFontHeight = 12;

// Status bar parts: widths, from which the right edges follow.
struct StatusPart {
  int width;
  const char* text;
};
std::span<const StatusPart> status_parts();

// Characters that the port box takes from the keyboard: 0-9, '-', and control keys.
bool port_char_allowed(unsigned int ch);

// The tray menu.
enum MenuId : int {
  托盘_状态 = 2001,
  托盘_启动,
  托盘_停止,
  托盘_打开网页,
  托盘_复制网页地址,
  托盘_配置,
  托盘_帮助,
  托盘_检查更新,
  托盘_使用方法,
  托盘_关于,
  托盘_捐赠,
  托盘_退出,
  // "设置" and its switches; their marks are read from config.ini as the submenu opens.
  托盘_设置,
  托盘_自动检查更新,
  托盘_意外退出后自动重启,
  托盘_显示成功通知,
};

enum MenuFlag : unsigned {
  kMenuNone = 0,
  kMenuDisabled = 1u << 0,
  kMenuChecked = 1u << 1,
  kMenuSeparator = 1u << 2,
};

struct MenuItem {
  int id;  // 0 for separators
  const char* text;
  unsigned flags;
  std::span<const MenuItem> submenu;  // empty unless the entry opens a submenu
};

inline constexpr char kTrayMenuName[] = "托盘菜单";
// Whether a command without a control comes from a tray menu entry.
bool is_tray_menu_id(int id);
std::span<const MenuItem> tray_menu();

// The log tab's own menu (the right button, the menu key, Shift+F10). Its commands come back
// from the menu itself, never as window messages: ids of their own, apart from the tray's.
enum LogMenuId : int {
  日志_复制 = 2101,
  日志_全选,
  日志_清空,
  日志_打开日志文件夹,
};
std::span<const MenuItem> log_menu();

}  // namespace layout
