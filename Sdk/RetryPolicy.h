// When a failed request goes again, for every path of the SDK that sends again (payment results,
// analytics): which failures are worth another try, and how long to wait before it.
//
// A million clients that failed together must not come back together: each wait is drawn at
// random between zero and a cap that doubles with every failure in a row, up to the longest
// (full jitter). The random source is seeded by each process (and each object), never by the
// build, so two copies of a game never draw the same waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>

#include "Sdk/HttpResp.h"

namespace ZarnSdk {

// A seed of this process's own (and of this moment's), never the same in two processes.
uint64_t ProcessRandomSeed();

// A wait drawn uniformly in [0, cap].
std::chrono::milliseconds FullJitter(std::chrono::milliseconds cap, std::mt19937_64& random);

struct RetryLimits {
  std::chrono::milliseconds first;              // the first failure's wait is drawn under this cap
  std::chrono::milliseconds longest;            // the cap stops doubling here
  std::chrono::milliseconds longestRetryAfter;  // the most a server's Retry-After is followed
  // The drawn wait is added to the server's Retry-After too, so that every client it answered in
  // one second does not come back in one second. Without it the server's wait is kept exactly.
  bool jitterRetryAfter = true;
};

// Not thread-safe: the owner's lock guards it.
class RetryPolicy {
 public:
  explicit RetryPolicy(const RetryLimits& limits);

  // The server did not take the request, and may later: no reply at all (whatever failed on the
  // way: name, connection, proxy, TLS, time limit), a 5xx or a 429. Anything the server answered
  // otherwise is final.
  static bool IsTransient(const HttpResp& reply);

  // The wait after the `failures`-th failure in a row (1 for the first): drawn under
  // min(longest, first * 2^(failures-1)); with the server's Retry-After, that wait (plus the
  // drawn one when `jitterRetryAfter`), at most `longestRetryAfter`.
  std::chrono::milliseconds Wait(int failures, std::optional<std::chrono::seconds> retryAfter);

 private:
  const RetryLimits limits_;
  std::mt19937_64 random_;
};

}  // namespace ZarnSdk
