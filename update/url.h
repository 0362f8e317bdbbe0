// Splitting a web address into the parts a request is made from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace update {

struct Url {
  bool secure = false;  // https
  std::string host;
  unsigned port = 0;
  std::string path;  // with the query; "/" when the address has none
  std::string user;
  std::string password;
};

// Accepts http and https addresses (the scheme in any case). Everything from the first "#" on
// is dropped; nothing is escaped. Empty when the address cannot be split: another scheme, no
// host, or a port that is no number from 1 to 65535.
std::optional<Url> split_url(std::string_view address);

}  // namespace update
