#include "app/layout.h"

#include <algorithm>
#include <array>

#include "server/presentation.h"

namespace layout {
namespace {

constexpr std::array kControls{
    Control{选择夹1, Kind::Tab, Parent::Main, -1, 12, 4, 380, 316, "", kWidens},
    Control{状态条1, Kind::StatusBar, Parent::Main, -1, 0, 0, 399, 20, "", kNone},
    // Page "日志". Created before the other page's labels: a screen reader names a box after the
    // label created right before it, looking back past buttons, and the log has none.
    Control{编辑框_日志, Kind::Edit, Parent::Tab, 1, 0, 20, 380, 296, "",
            kLog | kReadOnly | kWidens},
    // Page "配置". Each label is created right before the box it names.
    Control{分组框1, Kind::GroupBox, Parent::Tab, 0, 16, 32, 352, 156, "配置信息", kNone},
    Control{透明标签1, Kind::Label, Parent::Tab, 0, 16, 200, 64, 24, "文件位置：", kNone},
    Control{编辑框_文件位置, Kind::Edit, Parent::Tab, 0, 80, 200, 250, 24, "", kReadOnly},
    Control{按钮_浏览, Kind::Button, Parent::Tab, 0, 330, 200, 36, 24, "浏览", kNone},
    Control{透明标签5, Kind::Label, Parent::Tab, 0, 16, 232, 80, 24, "网页端口：", kNone},
    Control{编辑框_网页端口, Kind::Edit, Parent::Tab, 0, 80, 232, 92, 24, "8888", kPortInput,
            kMaxPortInput},
    Control{按钮_保存, Kind::Button, Parent::Tab, 0, 184, 232, 92, 24, "保存配置", kNone},
    Control{选择框_开机启动, Kind::CheckBox, Parent::Tab, 0, 296, 232, 76, 24, "开机启动", kNone},
    Control{按钮_启动, Kind::Button, Parent::Tab, 0, 28, 268, 160, 32, "启动",
            presentation::kInitial.start_enabled ? kNone : kDisabled},
    Control{按钮_停止, Kind::Button, Parent::Tab, 0, 188, 268, 160, 32, "停止",
            presentation::kInitial.stop_enabled ? kNone : kDisabled},
    // Inside the group box "配置信息".
    Control{透明标签2, Kind::Label, Parent::Group, 0, 16, 24, 68, 24, "访问地址：", kNone},
    Control{编辑框_IP, Kind::Edit, Parent::Group, 0, 84, 24, 228, 24, "", kNone, kMaxValueInput},
    Control{选择框_访问控制, Kind::CheckBox, Parent::Group, 0, 84, 56, 252, 24,
            "启用访问限制（账号密码）", kNone},
    Control{透明标签3, Kind::Label, Parent::Group, 0, 16, 88, 60, 24, "访问账号：", kNone},
    Control{编辑框_账号, Kind::Edit, Parent::Group, 0, 84, 88, 228, 24, "", kNone, kMaxValueInput},
    Control{透明标签4, Kind::Label, Parent::Group, 0, 16, 120, 60, 24, "访问密码：", kNone},
    Control{编辑框_密码, Kind::Edit, Parent::Group, 0, 84, 120, 228, 24, "", kPassword,
            kMaxValueInput},
    Control{选择框_密码明文, Kind::CheckBox, Parent::Group, 0, 320, 120, 16, 24, "", kNone},
};

constexpr std::array kStatusParts{
    StatusPart{120, presentation::kInitial.status_bar},
    StatusPart{400, "   提醒：修改配置后，请记得点击[保存配置]。"},
};

constexpr std::array kHelpMenu{
    MenuItem{托盘_检查更新, "检查更新", kMenuNone, {}},
    MenuItem{托盘_使用方法, "使用方法", kMenuNone, {}},
    MenuItem{0, "", kMenuSeparator, {}},
    MenuItem{托盘_关于, "关于", kMenuNone, {}},
    MenuItem{托盘_捐赠, "捐赠", kMenuNone, {}},
};

constexpr std::array kSettingsMenu{
    MenuItem{托盘_自动检查更新, "自动检查更新", kMenuChecked, {}},
    MenuItem{托盘_意外退出后自动重启, "意外退出后自动重启", kMenuChecked, {}},
    MenuItem{托盘_显示成功通知, "显示成功通知", kMenuChecked, {}},
};

constexpr std::array kTrayMenu{
    // The status entry stays greyed; only its caption and check mark follow the server.
    MenuItem{托盘_状态,
             presentation::kInitial.tray_status,
             kMenuDisabled | (presentation::kInitial.tray_status_checked ? kMenuChecked : 0u),
             {}},
    MenuItem{托盘_启动,
             "启动",
             presentation::kInitial.tray_start_enabled ? kMenuNone : kMenuDisabled,
             {}},
    MenuItem{托盘_停止,
             "停止",
             presentation::kInitial.tray_stop_enabled ? kMenuNone : kMenuDisabled,
             {}},
    MenuItem{托盘_打开网页,
             "打开网页",
             presentation::kInitial.tray_web_enabled ? kMenuNone : kMenuDisabled,
             {}},
    MenuItem{托盘_复制网页地址,
             "复制网页地址",
             presentation::kInitial.tray_web_enabled ? kMenuNone : kMenuDisabled,
             {}},
    MenuItem{托盘_配置, "配置...", kMenuNone, {}},
    MenuItem{0, "", kMenuSeparator, {}},
    MenuItem{托盘_设置, "设置", kMenuNone, kSettingsMenu},
    MenuItem{托盘_帮助, "帮助", kMenuNone, kHelpMenu},
    MenuItem{托盘_退出, "退出", kMenuNone, {}},
};

// "复制" is greyed while nothing is selected (log_box_win.cpp).
constexpr std::array kLogMenu{
    MenuItem{日志_复制, "复制", kMenuNone, {}},
    MenuItem{日志_全选, "全选", kMenuNone, {}},
    MenuItem{0, "", kMenuSeparator, {}},
    MenuItem{日志_清空, "清空", kMenuNone, {}},
    MenuItem{日志_打开日志文件夹, "打开日志文件夹", kMenuNone, {}},
};

}  // namespace

std::span<const Control> controls() { return kControls; }

const Control* find(Id id) {
  auto it = std::find_if(kControls.begin(), kControls.end(),
                         [id](const Control& c) { return c.id == id; });
  return it == kControls.end() ? nullptr : &*it;
}

std::string versioned_title() { return std::string(kCaption) + "    v" + kDisplayVersion; }

std::span<const StatusPart> status_parts() { return kStatusParts; }

bool port_char_allowed(unsigned int ch) {
  return (ch >= '0' && ch <= '9') || ch == '-' || ch < 0x20;
}

std::span<const MenuItem> tray_menu() { return kTrayMenu; }

std::span<const MenuItem> log_menu() { return kLogMenu; }

bool is_tray_menu_id(int id) { return id >= 托盘_状态 && id <= 托盘_显示成功通知; }

}  // namespace layout
