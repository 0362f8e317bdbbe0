#include "update/url.h"

#include "platform/gbk.h"

namespace update {

std::optional<Url> split_url(std::string_view address) {
  address = address.substr(0, address.find('#'));
  const std::size_t scheme_end = address.find("://");
  if (scheme_end == std::string_view::npos) return std::nullopt;
  const std::string scheme = gbk::ascii_lower(address.substr(0, scheme_end));
  Url url;
  if (scheme == "https") {
    url.secure = true;
    url.port = 443;
  } else if (scheme == "http") {
    url.port = 80;
  } else {
    return std::nullopt;
  }

  std::string_view rest = address.substr(scheme_end + 3);
  const std::size_t authority_end = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, authority_end);
  if (authority_end == std::string_view::npos) {
    url.path = "/";
  } else {
    url.path = std::string(rest.substr(authority_end));
    if (url.path.front() == '?') url.path = "/" + url.path;
  }

  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view user_info = authority.substr(0, at);
    const std::size_t colon = user_info.find(':');
    url.user = std::string(user_info.substr(0, colon));
    if (colon != std::string_view::npos) url.password = std::string(user_info.substr(colon + 1));
    authority = authority.substr(at + 1);
  }

  // A bracketed IPv6 host may hold colons of its own.
  std::size_t port_colon = std::string_view::npos;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      port_colon = close + 1;
    }
  } else {
    port_colon = authority.rfind(':');
  }
  url.host = std::string(authority.substr(0, port_colon));
  if (url.host.empty()) return std::nullopt;
  if (port_colon != std::string_view::npos) {
    const std::string_view digits = authority.substr(port_colon + 1);
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    unsigned port = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    url.port = port;
  }
  return url;
}

}  // namespace update
