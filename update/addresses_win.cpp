// The addresses the program reaches, set by the build for each executable.
#include "update/info.h"

#include "update/check.h"

#if !defined(RMT_PROBE_URL) || !defined(RMT_MANIFEST_URL) || !defined(RMT_PROJECT_URL) || \
    !defined(RMT_DONATION_MAIN_URL) || !defined(RMT_DONATION_MIRROR_URL)
#error "the build sets every address"
#endif

namespace update::address {

const char kProbe[] = RMT_PROBE_URL;
const char kManifest[] = RMT_MANIFEST_URL;
const char kProjectPage[] = RMT_PROJECT_URL;
const char kDonationMain[] = RMT_DONATION_MAIN_URL;
const char kDonationMirror[] = RMT_DONATION_MIRROR_URL;

}  // namespace update::address

namespace update::build {

#ifdef RMT_CHECK_DEADLINE_MS
const std::uint32_t kCheckDeadlineMs = RMT_CHECK_DEADLINE_MS;
#else
const std::uint32_t kCheckDeadlineMs = update::kCheckDeadlineMs;
#endif

}  // namespace update::build
