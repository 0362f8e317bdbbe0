// Libraries loaded by name come from the system folder alone (platform/delay_load_win.cpp).
#pragma once

namespace platform {

// Makes every later load by name in this process, also those the system's own libraries make
// (the network library delay-loads the IP helper), search the system folder alone. Where Windows
// lacks the means (Windows 7 without its 2011 loader update) it changes nothing; the program's
// own libraries are loaded from the system folder's full path there.
void search_system_folder_only();

}  // namespace platform
