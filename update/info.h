// The help menu's information: the About text and the maker's addresses the program opens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace update {

inline constexpr char kAboutCaption[] = "关于";

// Three lines joined by CR LF: the version, the web site, the disclaimer.
std::string about_text(std::string_view display_version, std::string_view site);

// Set per executable by the build (the defaults, or loopback addresses for the test build).
namespace address {
extern const char kProbe[];
extern const char kManifest[];
extern const char kProjectPage[];
extern const char kDonationMain[];
extern const char kDonationMirror[];
}  // namespace address

namespace build {
// How long one update check may take: kCheckDeadlineMs (check.h), shorter in the test build so
// that its tests of a stalling server need not wait a minute.
extern const std::uint32_t kCheckDeadlineMs;
}  // namespace build

}  // namespace update
