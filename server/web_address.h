// Where the server's web page is reached: from this machine (the tray's "打开网页"), and from
// other devices on the local network when the server listens on every interface ("复制网页地址").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace web_address {

// Whether the server listens on every interface: "0.0.0.0" or "::".
bool any_address(std::string_view ip);

// Whether only this machine can reach the address: 127.x.x.x, "::1" or "localhost".
bool loopback(std::string_view ip);

// The page from this machine: "http://127.0.0.1:<port>/" for 0.0.0.0, "http://[::1]:<port>/" for
// "::", else the address as given (an IPv6 address in brackets).
std::string local_url(std::string_view ip, std::string_view port);

// One IPv4 address of one of the machine's network adapters.
struct AdapterAddress {
  std::string address;  // dotted
  bool up = false;
  bool has_gateway = false;  // the adapter has a default gateway: the network the user is on
};

// The addresses another device can reach: of adapters that are up, neither loopback (127.x) nor
// link-local (169.254.x, no network gave it), those with a default gateway first, each once, at
// most three.
std::vector<std::string> reachable(const std::vector<AdapterAddress>& adapters);

// "http://<address>:<port>/" for each of them.
std::vector<std::string> lan_urls(const std::vector<std::string>& addresses, std::string_view port);

// What "复制网页地址" puts on the clipboard: the first address another device can use when the
// server listens on every interface and there is one, else the page from this machine.
std::string copied_url(std::string_view ip, std::string_view port,
                       const std::vector<std::string>& reachable_addresses);

}  // namespace web_address
