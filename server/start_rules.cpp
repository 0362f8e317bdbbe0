#include "server/start_rules.h"

namespace start {

std::string probe_host(std::string_view ip) {
  if (ip == "0.0.0.0") return "127.0.0.1";
  if (ip == "::" || ip == "[::]") return "::1";
  // An IPv6 address may be entered in the brackets of a web address.
  if (ip.size() > 2 && ip.front() == '[' && ip.back() == ']') {
    return std::string(ip.substr(1, ip.size() - 2));
  }
  return std::string(ip);
}

std::uint32_t next_look_ms(std::uint32_t since_begin_ms) {
  return since_begin_ms < kEarlyPeriodMs ? kEarlyLookMs : kLaterLookMs;
}

}  // namespace start
