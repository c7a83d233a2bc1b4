#include "Sdk/DeliveryGate.h"

#include <algorithm>

namespace ZarnSdk {

void DeliveryGate::Refill(Clock::time_point now) {
  if (now <= refilled_) return;
  const double seconds = std::chrono::duration<double>(now - refilled_).count();
  tokens_ = std::min(pacing_.burst, tokens_ + seconds * pacing_.perSecond);
  refilled_ = now;
}

DeliveryGate::Clock::time_point DeliveryGate::NextStart(Clock::time_point now, int inFlight) {
  if (state_ == State::Waiting) {
    if (now < waitEnds_) return waitEnds_;
    state_ = State::Probe;
  }
  if (state_ == State::Probing) return Clock::time_point::max();
  if (state_ == State::Probe && inFlight > 0) return Clock::time_point::max();  // an earlier request may still tell
  if (inFlight >= std::max(pacing_.maxInFlight, 1)) return Clock::time_point::max();
  if (pacing_.perSecond <= 0) return now;
  Refill(now);
  if (tokens_ >= 1) return now;
  const auto missing = std::chrono::duration<double>((1 - tokens_) / pacing_.perSecond);
  return now + std::chrono::ceil<Clock::duration>(missing);
}

void DeliveryGate::Started(Clock::time_point now) {
  if (state_ == State::Probe) state_ = State::Probing;
  if (pacing_.perSecond <= 0) return;
  Refill(now);
  tokens_ = std::max(0.0, tokens_ - 1);
}

bool DeliveryGate::Answered() {
  if (state_ == State::Waiting) return false;  // a request from before the failure: the probe decides
  const bool reopened = state_ != State::Open && failures_ > 0;
  state_ = State::Open;
  failures_ = 0;
  return reopened;
}

std::optional<DeliveryGate::Clock::time_point> DeliveryGate::Failed(Clock::time_point now, std::optional<std::chrono::seconds> retryAfter) {
  if (state_ == State::Waiting) {
    // Requests that left before the gate closed fail too: they lengthen nothing but a wait the
    // server asks for.
    if (retryAfter) waitEnds_ = std::max(waitEnds_, now + std::min<Clock::duration>(*retryAfter, pacing_.longestRetryAfter));
    return std::nullopt;
  }
  // The wait the server asks for gets the jitter too: every client it answered in one second
  // would come back in one second.
  failures_ = std::min(failures_ + 1, 62);
  waitEnds_ = now + retry_.Wait(failures_, retryAfter);
  state_ = State::Waiting;
  return waitEnds_;
}

}  // namespace ZarnSdk
