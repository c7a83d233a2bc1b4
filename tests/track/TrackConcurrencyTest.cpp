// Several game threads posting at once while the player's state changes: every event gets its
// own sequence number and the stored counter ends at the number of events.
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnTrack.h"
#include "TrackFixture.h"
#include "tools/mock_backend/ApiPaths.h"

using ZarnSdk::CZarnCore;
using ZarnSdk::CZarnTrack;

namespace tracktest {
namespace {

TEST_F(TrackTest, ConcurrentPostersEachGetTheirOwnSequenceNumber) {
  constexpr int kThreads = 8;
  constexpr int kEventsPerThread = 250;
  constexpr int kTotal = kThreads * kEventsPerThread;
  InitTracker();

  std::atomic<bool> posting{true};
  std::thread refresher([&posting] {
    for (int i = 0; posting.load(); ++i) {
      CZarnCore::Instance().SetServerId("s" + std::to_string(i));
      CZarnCore::Instance().SetLevel(i);
      CZarnTrack::Instance().UpdateUserId();
      (void)CZarnTrack::Instance().DeviceId();
    }
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([t] {
      for (int i = 0; i < kEventsPerThread; ++i) {
        CZarnTrack::Instance().PostEvent("qzk_level_achieved", "{\"poster\":" + std::to_string(t) + "}", i);
      }
    });
  }
  for (auto& poster : posters) poster.join();
  posting = false;
  refresher.join();

  ASSERT_TRUE(mock_->WaitForRequests(zarnmock::paths::kAnalytics, kTotal, std::chrono::seconds(90)))
      << AnalyticsCount() << " of " << kTotal << " arrived";
  std::set<std::string> orders;
  for (const auto& record : AnalyticsRequests()) {
    EXPECT_TRUE(record.ok) << record.reason;
    orders.insert(Parse(record.body).at("eventOrder").get<std::string>());
  }
  std::set<std::string> expected;
  for (int n = 1; n <= kTotal; ++n) expected.insert("n" + std::to_string(n));
  EXPECT_EQ(orders, expected);
  EXPECT_EQ(zarntest::ReadFile(AppConfPath()), "{\"AttributionFlag\":0,\"EventOrder\":" + std::to_string(kTotal) + "}");
}

}  // namespace
}  // namespace tracktest
