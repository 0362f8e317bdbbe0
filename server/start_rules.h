// How a start learns that its server came up: where its web port is knocked at, and how often.
// The look-out that does it runs on a thread of its own (server/start_lookout_win.h) for one
// start at a time; an idle program wakes for nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace start {

// The address a connection to the server is tried at: the loopback address of the family for
// an any-address (the server takes connections there too), else the address as entered.
std::string probe_host(std::string_view ip);

// The wait before the next look (for the server's process, then at its port), by the time since
// the look-out began: often at first, when a server usually comes up, less often after. A knock
// on loopback costs well under a millisecond, and a start is waited for: at 100 ms the running
// look came a median 50 ms after the port answered.
inline constexpr std::uint32_t kEarlyLookMs = 10;
inline constexpr std::uint32_t kLaterLookMs = 250;
inline constexpr std::uint32_t kEarlyPeriodMs = 2000;
std::uint32_t next_look_ms(std::uint32_t since_begin_ms);

// A single knock at the port gives up after this long (a refused one ends at once on loopback;
// an address that drops the knock would otherwise hold the next look back).
inline constexpr std::uint32_t kKnockMostMs = 500;

// The look-out ends by itself once this long has passed, whatever the window made of it: the
// window's own bounds come well before.
inline constexpr std::uint32_t kLookoutMostMs = 10 * 60 * 1000;

// A new process's executable path can be read only a moment after the job reports it: it is
// read again for this long.
inline constexpr std::uint32_t kImagePathMostMs = 100;
inline constexpr std::uint32_t kImagePathRetryMs = 2;

}  // namespace start
