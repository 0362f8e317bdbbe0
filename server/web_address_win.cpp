// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <iphlpapi.h>

#include "server/web_address_win.h"

#include <cstring>
#include <exception>
#include <thread>
#include <utility>

#include "platform/handles_win.h"
#include "platform/ui_task_win.h"

namespace web_address {

namespace {

std::string dotted(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_INET) return {};
  sockaddr_in in{};
  std::memcpy(&in, address, sizeof in);
  const auto* b = reinterpret_cast<const unsigned char*>(&in.sin_addr);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

}  // namespace

std::vector<AdapterAddress> adapter_addresses() {
  std::vector<AdapterAddress> out;
  constexpr ULONG kFlags = GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST |
                           GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  // The list may grow between asking for its size and filling it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    buffer.assign(size, 0);
    const ULONG result = ::GetAdaptersAddresses(
        AF_INET, kFlags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    if (result == ERROR_BUFFER_OVERFLOW) continue;
    if (result != NO_ERROR) return out;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
         a = a->Next) {
      const bool up = a->OperStatus == IfOperStatusUp;
      const bool gateway = a->FirstGatewayAddress != nullptr;
      for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
        if (std::string text = dotted(u->Address.lpSockaddr); !text.empty()) {
          out.push_back({std::move(text), up, gateway});
        }
      }
    }
    return out;
  }
  return out;
}

void reachable_later(HWND hwnd, std::function<void(std::vector<std::string>)> done) {
  try {
    std::thread([hwnd, done = std::move(done)]() noexcept {
      try {
        std::vector<std::string> found = reachable(adapter_addresses());
        ui_task::post(hwnd, [done, found = std::move(found)] { done(found); });
      } catch (const std::exception&) {
        // Out of memory: nothing is handed back, as when the window is gone.
      }
    }).detach();
  } catch (const std::exception&) {
    done({});  // no thread: the page from this machine stands
  }
}

bool copy_text(HWND owner, const std::string& text) {
  if (!::OpenClipboard(owner)) return false;
  bool copied = false;
  if (::EmptyClipboard()) {
    win::unique_hglobal memory(::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1));
    if (void* bytes = memory ? ::GlobalLock(memory.get()) : nullptr) {
      std::memcpy(bytes, text.c_str(), text.size() + 1);
      ::GlobalUnlock(memory.get());
      // The clipboard owns the memory once it took it.
      if (::SetClipboardData(CF_TEXT, memory.get()) != nullptr) {
        memory.release();
        copied = true;
      }
    }
  }
  ::CloseClipboard();
  return copied;
}

}  // namespace web_address
