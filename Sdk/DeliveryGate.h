// When the next event may go to the server: one gate for the server's analytics endpoint.
//
// The server is shared by every copy of the game, so the gate treats its failures as the
// server's, not the event's. While the server is not known to work (at start, and after a
// failure) one request at a time goes, as a probe. A failure (no reply, a 5xx, a 429) closes
// the gate for a wait drawn with full jitter (RetryPolicy), added to the one the server asked
// for (Retry-After) if it did, at most `longestRetryAfter` then; then one probe goes, and only its success opens
// the gate again. Open, at most `maxInFlight` requests are under way, and a token bucket paces
// them: `burst` at once, then `perSecond`, which is also the pace at which a backlog drains
// after an outage.
//
// Not thread-safe: the owner's lock guards it. Time comes in as arguments, so tests drive it
// with a clock of their own.
#pragma once

#include <chrono>
#include <optional>

#include "Sdk/RetryPolicy.h"

namespace ZarnSdk {

struct DeliveryPacing {
  std::chrono::milliseconds firstRetry{2000};  // the first failure's wait is drawn under this cap
  std::chrono::milliseconds longestRetry{5 * 60 * 1000};
  std::chrono::seconds longestRetryAfter{60 * 60};
  int maxInFlight = 2;
  double perSecond = 10;  // 0: not paced
  double burst = 20;
};

class DeliveryGate {
 public:
  using Clock = std::chrono::steady_clock;

  DeliveryGate(const DeliveryPacing& pacing, Clock::time_point now)
      : pacing_(pacing), retry_({pacing.firstRetry, pacing.longestRetry, pacing.longestRetryAfter, true}), tokens_(pacing.burst), refilled_(now) {}

  // When one more request may start, `inFlight` being under way: `now` or later, or
  // Clock::time_point::max() when only a reply can open the gate.
  Clock::time_point NextStart(Clock::time_point now, int inFlight);
  // A request starts (NextStart said it may).
  void Started(Clock::time_point now);
  // The server answered a request (any reply it meant, a refusal included). True when that
  // opens the gate after failures.
  bool Answered();
  // The server did not take a request: no reply, a 5xx or a 429; `retryAfter` as it asked.
  // When this failure closes the gate: the end of the wait.
  std::optional<Clock::time_point> Failed(Clock::time_point now, std::optional<std::chrono::seconds> retryAfter);

 private:
  enum class State { Probe, Probing, Open, Waiting };
  void Refill(Clock::time_point now);

  const DeliveryPacing pacing_;
  RetryPolicy retry_;
  int failures_ = 0;  // in a row
  State state_ = State::Probe;
  Clock::time_point waitEnds_{};
  double tokens_;
  Clock::time_point refilled_;
};

}  // namespace ZarnSdk
