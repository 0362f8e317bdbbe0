// The update check on a worker thread of its own, and the help menu's information entries.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "update/check.h"

namespace update {

using NoticeHandler = std::function<void(const Notice&)>;

// Starts one check and returns at once; a request while a check runs is ignored. The worker
// never touches a window: a notice goes to handler on ui_window's thread, and is dropped when
// that window is gone.
void start_check(HWND ui_window, const std::string& program_dir, const std::string& own_version,
                 const std::string& own_build, NoticeHandler handler);

// Opens an address in the user's browser.
void open_url(const std::string& url);
// The project page, where a click on the update balloon leads.
std::string project_page();

// "使用方法": the project page in the user's browser.
void show_usage();
// "关于": the About box, owned by owner.
void show_about(HWND owner, const std::string& display_version);
// "捐赠": both donation pages, the main site's first.
void donate();

}  // namespace update
