// Splitting an address: what is accepted has a host, a port from 1 to 65535 and a path that starts
// with '/', none of them holds what ends its part, and written out again it splits the same way.
#include "tests/fuzz/fuzz_check.h"
#include "update/url.h"

namespace {

std::string written_out(const update::Url& url) {
  std::string out = url.secure ? "https://" : "http://";
  if (!url.user.empty() || !url.password.empty()) {
    out += url.user;
    if (!url.password.empty()) out += ":" + url.password;
    out += "@";
  }
  return out + url.host + ":" + std::to_string(url.port) + url.path;
}

bool same(const update::Url& a, const update::Url& b) {
  return a.secure == b.secure && a.host == b.host && a.port == b.port && a.path == b.path &&
         a.user == b.user && a.password == b.password;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view address(reinterpret_cast<const char*>(data), size);
  const std::optional<update::Url> url = update::split_url(address);
  if (!url) return 0;
  FUZZ_CHECK(!url->host.empty());
  FUZZ_CHECK(url->port >= 1 && url->port <= 65535);
  FUZZ_CHECK(!url->path.empty() && url->path.front() == '/');
  FUZZ_CHECK(url->host.find_first_of("/?#@") == std::string::npos);
  FUZZ_CHECK(url->path.find('#') == std::string::npos);
  FUZZ_CHECK((url->user + url->password).find_first_of("/?#") == std::string::npos);
  // The parts came from the address in its order, so each one stands in it.
  FUZZ_CHECK(address.find(url->host) != std::string_view::npos);
  const std::optional<update::Url> again = update::split_url(written_out(*url));
  FUZZ_CHECK(again && same(*again, *url));
  return 0;
}
