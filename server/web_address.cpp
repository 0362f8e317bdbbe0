#include "server/web_address.h"

#include <algorithm>

namespace web_address {

namespace {

constexpr std::size_t kMostShown = 3;

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// An IPv6 address may be given in brackets, as in a URL.
std::string_view unbracketed(std::string_view ip) {
  if (ip.size() >= 2 && ip.front() == '[' && ip.back() == ']') return ip.substr(1, ip.size() - 2);
  return ip;
}

}  // namespace

bool any_address(std::string_view ip) { return ip == "0.0.0.0" || unbracketed(ip) == "::"; }

bool loopback(std::string_view ip) {
  const std::string_view bare = unbracketed(ip);
  if (bare == "::1" || starts_with(bare, "127.")) return true;
  std::string lower(bare);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower == "localhost";
}

std::string local_url(std::string_view ip, std::string_view port) {
  std::string host;
  const std::string_view bare = unbracketed(ip);
  if (bare == "0.0.0.0") {
    host = "127.0.0.1";
  } else if (bare == "::") {
    host = "[::1]";
  } else if (bare.find(':') != std::string_view::npos) {
    host.append("[").append(bare).append("]");
  } else {
    host = bare;
  }
  return "http://" + host + ":" + std::string(port) + "/";
}

std::vector<std::string> reachable(const std::vector<AdapterAddress>& adapters) {
  std::vector<const AdapterAddress*> usable;
  for (const AdapterAddress& a : adapters) {
    if (!a.up || a.address.empty() || a.address == "0.0.0.0") continue;
    if (starts_with(a.address, "127.") || starts_with(a.address, "169.254.")) continue;
    usable.push_back(&a);
  }
  std::stable_partition(usable.begin(), usable.end(),
                        [](const AdapterAddress* a) { return a->has_gateway; });
  std::vector<std::string> out;
  for (const AdapterAddress* a : usable) {
    if (out.size() == kMostShown) break;
    if (std::find(out.begin(), out.end(), a->address) == out.end()) out.push_back(a->address);
  }
  return out;
}

std::vector<std::string> lan_urls(const std::vector<std::string>& addresses,
                                  std::string_view port) {
  std::vector<std::string> urls;
  for (const std::string& a : addresses)
    urls.push_back("http://" + a + ":" + std::string(port) + "/");
  return urls;
}

std::string copied_url(std::string_view ip, std::string_view port,
                       const std::vector<std::string>& reachable_addresses) {
  if (any_address(ip) && !reachable_addresses.empty()) {
    return lan_urls({reachable_addresses.front()}, port).front();
  }
  return local_url(ip, port);
}

}  // namespace web_address
