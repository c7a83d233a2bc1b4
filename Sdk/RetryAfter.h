// The wait a server asks for in a Retry-After field (on a 429 or 503 reply).
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace ZarnSdk {

// Delta-seconds ("120"), or an HTTP date in any of its three forms ("Sun, 06 Nov 1994 08:49:37
// GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994") taken relative to `now`.
// A date in the past is no wait; nullopt when the field cannot be read. Not bounded here: the
// caller knows how long it is prepared to wait.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view field, std::chrono::system_clock::time_point now);

}  // namespace ZarnSdk
