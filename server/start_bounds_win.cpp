// A start's bounds as values of the build: the program reads no setting for them. The test build
// gets shorter ones, so that its tests of a server that never appears or never answers wait
// seconds instead of a minute.
#include "server/control_win.h"

namespace server::build {

#ifdef RMT_APPEAR_MOST_MS
const std::uint32_t kAppearMostMs = RMT_APPEAR_MOST_MS;
#else
const std::uint32_t kAppearMostMs = control::kAppearMostMs;
#endif
#ifdef RMT_ANSWER_MOST_MS
const std::uint32_t kAnswerMostMs = RMT_ANSWER_MOST_MS;
#else
const std::uint32_t kAnswerMostMs = control::kAnswerMostMs;
#endif

}  // namespace server::build
