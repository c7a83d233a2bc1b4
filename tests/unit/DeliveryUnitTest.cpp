// Event delivery over a fake poster and a state folder of the test's own: numbers reserved in
// the state file before an event leaves, failed events sent again, unanswered ones kept.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "Sdk/EventDelivery.h"
#include "UnitRig.h"
#include "platform/ThreadLauncher.h"

namespace zarntest {
namespace {

using namespace std::chrono_literals;
using ZarnSdk::EventDelivery;

std::string Doc(int64_t number) { return R"({"eventOrder":"n)" + std::to_string(number) + R"("})"; }

ZarnSdk::EventDeliveryTimings QuickTimings() {
  ZarnSdk::EventDeliveryTimings timings;
  timings.pacing.firstRetry = 1ms;
  timings.pacing.longestRetry = 1ms;
  timings.pacing.longestRetryAfter = 0s;
  timings.pacing.perSecond = 0;
  return timings;
}

struct DeliveryRig : UnitRig {
  using UnitRig::UnitRig;
  EventDelivery& Started() {
    delivery.emplace(store, api, sion::DefaultThreadLauncher(), QuickTimings());
    EXPECT_TRUE(delivery->Start());
    return *delivery;
  }
  int64_t Post() {
    const int64_t number = delivery->NextNumber().value();
    delivery->Enqueue(number, Doc(number));
    return number;
  }
  // The request's document once it was posted.
  std::string Sent(size_t index) {
    EXPECT_TRUE(poster.WaitFor(index + 1));
    return index < poster.Count() ? poster.Request(index).body : "";
  }
  int64_t StoredCounter() { return store.ReadConfigJson(false).value("EventOrder", int64_t{0}); }
  std::string Outbox() { return store.ReadAppFile("EventOutbox", 1 << 20).value_or("(none)"); }
  std::optional<EventDelivery> delivery;
};

TEST(Delivery, AnEventLeavesOnlyWithANumberTheStateFileReservedAndStopStoresTheLast) {
  const struct { std::optional<int64_t> stored; int64_t first; } cases[] = {{std::nullopt, 1}, {41, 42}, {0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::atomic<int64_t> reservedAtSend{-1};
    DeliveryRig rig([&](const ZarnSdk::OutgoingRequest&) { reservedAtSend = rig.StoredCounter(); });
    if (c.stored) rig.store.WriteConfigJson({{"EventOrder", *c.stored}}, false);
    EventDelivery& delivery = rig.Started();
    const int64_t number = rig.Post();
    EXPECT_EQ(number, c.first);
    ASSERT_EQ(rig.Sent(0), Doc(number));
    EXPECT_EQ(rig.poster.Request(0).url, rig.api.Url(ZarnSdk::calls::kTrackData));
    EXPECT_EQ(rig.poster.Request(0).lane, sion::Lane::Background);
    EXPECT_GE(reservedAtSend.load(), number);
    rig.poster.Answer(0, ServerReply(R"({"code":200})"));
    delivery.Stop();
    EXPECT_EQ(rig.StoredCounter(), number);
  }
}

// A failure is the server's: the event goes again, first. An answer, a refusal included, is
// final; a 429 never drops an event.
TEST(Delivery, AnEventTheServerDidNotTakeGoesAgainAnAnsweredOneDoesNot) {
  const struct { const char* name; ZarnSdk::HttpResp reply; bool again; } cases[] = {
      {"no reply", NoReply(), true},
      {"500", HttpFailure(500), true},
      {"503", HttpFailure(503), true},
      {"429", HttpFailure(429), true},
      {"429 asks a wait", HttpFailure(429, 5s), true},
      {"200", ServerReply(R"({"code":200})"), false},
      {"400", HttpFailure(400), false},
      {"404", HttpFailure(404), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeliveryRig rig;
    rig.Started();
    const int64_t first = rig.Post();
    ASSERT_EQ(rig.Sent(0), Doc(first));
    rig.poster.Answer(0, c.reply);
    const int64_t second = rig.Post();
    ASSERT_EQ(rig.Sent(1), Doc(c.again ? first : second));
    rig.poster.Answer(1, ServerReply(R"({"code":200})"));
    if (c.again) {
      EXPECT_EQ(rig.Sent(2), Doc(second));
    }
  }
}

TEST(Delivery, AnEventNotAnsweredByStopIsKeptAndGoesFirstAtTheNextStart) {
  const struct { const char* name; std::optional<ZarnSdk::HttpResp> reply; bool kept; } cases[] = {
      {"never answered", std::nullopt, true},
      {"no reply", NoReply(), true},
      {"429", HttpFailure(429, 5s), true},
      {"answered", ServerReply(R"({"code":200})"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeliveryRig rig;
    rig.Started();
    const int64_t first = rig.Post();
    ASSERT_EQ(rig.Sent(0), Doc(first));
    if (c.reply) rig.poster.Answer(0, *c.reply);
    rig.delivery->Stop();
    EXPECT_EQ(rig.Outbox(), c.kept ? "[" + nlohmann::json(Doc(first)).dump() + "]" : "[]");

    FakePoster next;
    ZarnSdk::ZarnApi api{next, "https://unit.invalid", rig.session};
    EventDelivery restarted{rig.store, api, sion::DefaultThreadLauncher(), QuickTimings()};
    ASSERT_TRUE(restarted.Start());
    const int64_t number = restarted.NextNumber().value();
    EXPECT_EQ(number, first + 1);
    restarted.Enqueue(number, Doc(number));
    ASSERT_TRUE(next.WaitFor(1));
    EXPECT_EQ(next.Request(0).body, Doc(c.kept ? first : number));
  }
}

}  // namespace
}  // namespace zarntest
