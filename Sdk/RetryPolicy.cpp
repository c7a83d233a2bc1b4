#include "Sdk/RetryPolicy.h"

#include <algorithm>

#include "Sdk/ResultCodes.h"

namespace ZarnSdk {

uint64_t ProcessRandomSeed() {
  uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                  static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) << 1;
  try {
    std::random_device device;
    seed ^= uint64_t{device()} << 32 ^ device();
  } catch (...) {
    // No entropy source: the clocks still differ from process to process.
  }
  return seed;
}

std::chrono::milliseconds FullJitter(std::chrono::milliseconds cap, std::mt19937_64& random) {
  return std::chrono::milliseconds(std::uniform_int_distribution<int64_t>(0, std::max<int64_t>(cap.count(), 0))(random));
}

RetryPolicy::RetryPolicy(const RetryLimits& limits)
    : limits_{limits.first, std::max(limits.longest, limits.first),
              limits.longestRetryAfter, limits.jitterRetryAfter},
      random_(ProcessRandomSeed()) {}

bool RetryPolicy::IsTransient(const HttpResp& reply) {
  return reply.code == results::kHttpFailureCode &&
         (reply.httpStatus == 0 || reply.httpStatus >= 500 || reply.httpStatus == 429);
}

std::chrono::milliseconds RetryPolicy::Wait(int failures, std::optional<std::chrono::seconds> retryAfter) {
  const int shift = std::clamp(failures - 1, 0, 40);
  const std::chrono::milliseconds cap = limits_.first.count() > (limits_.longest.count() >> shift)
                                            ? limits_.longest
                                            : limits_.first * (int64_t{1} << shift);
  const std::chrono::milliseconds drawn = FullJitter(cap, random_);
  if (!retryAfter) return drawn;
  const std::chrono::milliseconds asked =
      std::chrono::milliseconds(*retryAfter) + (limits_.jitterRetryAfter ? drawn : std::chrono::milliseconds(0));
  return std::min(asked, limits_.longestRetryAfter);
}

}  // namespace ZarnSdk
