// The machine's network adapters as the system lists them, and the clipboard.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "server/web_address.h"

namespace web_address {

// The IPv4 addresses of every adapter; empty when the system cannot list them.
std::vector<AdapterAddress> adapter_addresses();

// Lists the addresses another device can reach on a thread of its own (the list can take a while
// on a machine with many adapters) and hands them to done on hwnd's thread.
void reachable_later(HWND hwnd, std::function<void(std::vector<std::string>)> done);

// Puts the text on the clipboard; false when another program holds it.
bool copy_text(HWND owner, const std::string& text);

}  // namespace web_address
