// When events may go to a server that fails, driven by a clock of the test's own; and the waits
// a server asks for.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>

#include "Sdk/DeliveryGate.h"
#include "Sdk/RetryAfter.h"

namespace zarntest {
namespace {

using namespace std::chrono_literals;
using ZarnSdk::DeliveryGate;
using Clock = DeliveryGate::Clock;
constexpr Clock::time_point kNever = Clock::time_point::max();
const Clock::time_point t0 = Clock::time_point{} + 1000h;

TEST(RetryAfter, SecondsAndEachFormOfHttpDate) {
  const auto now = std::chrono::system_clock::time_point{} + 784111777s - 30s;  // 30 s before 06 Nov 1994 08:49:37
  const struct { std::string field; std::optional<std::chrono::seconds> wait; } cases[] = {
      {"120", 120s}, {" 7 ", 7s}, {"0", 0s}, {"99999999999999999999", 999999999s},
      {"Sun, 06 Nov 1994 08:49:37 GMT", 30s}, {"Sunday, 06-Nov-94 08:49:37 GMT", 30s},
      {"Sun Nov  6 08:49:37 1994", 30s}, {"Sun, 06 Nov 1994 08:48:37 GMT", 0s},
      {"Mon, 01 Jan 2024 00:00:00 GMT", 1704067200s - 784111747s},
      {"", std::nullopt}, {"soon", std::nullopt}, {"-5", std::nullopt}, {"1.5", std::nullopt},
      {"Sun, 06 Nox 1994 08:49:37 GMT", std::nullopt}, {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 GMT", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ZarnSdk::ParseRetryAfter(c.field, now), c.wait) << '"' << c.field << '"';
}

// Starts requests whenever the gate lets them, each answered at once, until `end`; how many went.
int StartAllUntil(DeliveryGate& gate, Clock::time_point& t, Clock::time_point end) {
  int started = 0;
  while (t < end) {
    const Clock::time_point next = gate.NextStart(t, 0);
    if (next > t) {
      t = next;
      continue;
    }
    gate.Started(t);
    gate.Answered();
    ++started;
  }
  return started;
}

TEST(DeliveryGate, OneProbeUntilTheServerAnswersThenFewInFlightAtAPacedRate) {
  DeliveryGate gate(ZarnSdk::DeliveryPacing{}, t0);
  ASSERT_EQ(gate.NextStart(t0, 0), t0);
  gate.Started(t0);
  EXPECT_EQ(gate.NextStart(t0, 1), kNever) << "a second request before the server is known to work";
  gate.Answered();
  EXPECT_EQ(gate.NextStart(t0, 1), t0);
  EXPECT_EQ(gate.NextStart(t0, 2), kNever) << "more than two in flight";
  // A burst of 20 (one of them gone above), then 10 a second: a backlog drains at that pace.
  Clock::time_point t = t0;
  EXPECT_EQ(StartAllUntil(gate, t, t0 + 1ms), 19);
  EXPECT_EQ(StartAllUntil(gate, t, t0 + 10s + 1ms), 100);
  t += 60s;  // idle: the bucket fills to the burst, no further
  EXPECT_EQ(StartAllUntil(gate, t, t + 1ms), 20);
}

// Each failure closes the gate for a wait drawn under a cap doubling from 2 s to 5 min, then one
// probe goes; its failure draws the next wait, its success opens the gate and restarts the caps.
TEST(DeliveryGate, FailuresWaitAJitteredDoublingTimeThenProbeOnce) {
  DeliveryGate gate(ZarnSdk::DeliveryPacing{}, t0);
  Clock::time_point t = t0;
  std::set<Clock::duration> firstWaits;
  for (int round = 0; round < 2; ++round) {
    std::chrono::milliseconds cap = 2s;
    for (int failure = 0; failure < 12; ++failure) {
      SCOPED_TRACE(std::to_string(round) + "/" + std::to_string(failure));
      ASSERT_EQ(gate.NextStart(t, 0), t);
      gate.Started(t);
      EXPECT_TRUE(failure == 0 || gate.NextStart(t, 1) == kNever) << "a second request beside the probe";
      const std::optional<Clock::time_point> until = gate.Failed(t, std::nullopt);
      ASSERT_TRUE(until.has_value());
      EXPECT_LE(*until - t, cap);
      if (failure == 0) firstWaits.insert(*until - t);
      EXPECT_FALSE(gate.Failed(t, std::nullopt)) << "a request from before the wait lengthened it";
      gate.Answered();  // nor does an answer to one open the gate
      EXPECT_EQ(gate.NextStart(t, 0), *until > t ? *until : t);
      t = *until;
      cap = std::min<std::chrono::milliseconds>(cap * 2, 5min);
    }
    EXPECT_EQ(cap, 5min);
    ASSERT_EQ(gate.NextStart(t, 0), t);
    gate.Started(t);
    EXPECT_TRUE(gate.Answered()) << "the probe's success did not open the gate";
  }
  // Gates of one process draw their own waits.
  for (int i = 0; i < 50; ++i) {
    DeliveryGate other(ZarnSdk::DeliveryPacing{}, t0);
    other.Started(t0);
    firstWaits.insert(*other.Failed(t0, std::nullopt) - t0);
  }
  EXPECT_GT(firstWaits.size(), 40u);
}

TEST(DeliveryGate, TheServersRetryAfterLengthensTheWaitUpToAnHour) {
  DeliveryGate gate(ZarnSdk::DeliveryPacing{}, t0);
  gate.Started(t0);
  const Clock::time_point until = gate.Failed(t0, 10s).value_or(t0);
  EXPECT_TRUE(until >= t0 + 10s && until <= t0 + 12s) << "not the wait asked for, under the first cap's jitter";
  EXPECT_FALSE(gate.Failed(t0 + 1s, 30s)) << "a later, longer plea is no new failure";
  EXPECT_EQ(gate.NextStart(t0 + 20s, 0), t0 + 31s);
  ASSERT_EQ(gate.NextStart(t0 + 31s, 0), t0 + 31s);
  gate.Started(t0 + 31s);
  EXPECT_EQ(gate.Failed(t0 + 31s, 5h), t0 + 31s + 1h);
}

}  // namespace
}  // namespace zarntest
