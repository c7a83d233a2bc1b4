// Purchases, Steam reports and catalogue queries from several threads at once: every purchase
// is answered exactly once, with its own order.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "PayFixture.h"
#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnPay.h"

using namespace std::chrono_literals;
using ZarnSdk::CZarnCore;
using ZarnSdk::CZarnPay;
using zarntest::CallbackSlot;
using zarntest::LogLines;
using zarntest::Narrow;
using zarntest::PayTest;

TEST_F(PayTest, ConcurrentPurchasesAndReportsAnswerEveryPurchaseExactlyOnce) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  constexpr int kBuyers = 4;
  constexpr int kPerBuyer = 5;
  constexpr size_t kOrders = kBuyers * kPerBuyer;
  constexpr int kReporters = 2;
  const char* products[] = {"gem_pack_small", "gem_pack_large", "vip_upgrade"};

  std::vector<std::thread> threads;
  for (int b = 0; b < kBuyers; ++b) {
    threads.emplace_back([b, &products] {
      for (int i = 0; i < kPerBuyer; ++i) {
        const std::string ext = "buyer" + std::to_string(b) + "-" + std::to_string(i);
        CZarnCore::Instance().CallPay(products[(b + i) % 3], ext, CallbackSlot<10>::fn);
        CZarnPay::Instance().QueryProducts(CallbackSlot<11>::fn);
      }
    });
  }
  // Each reporter answers its share of the stored orders as soon as they are stored, and
  // mixes in reports for orders nobody made.
  for (int r = 0; r < kReporters; ++r) {
    threads.emplace_back([r] {
      for (size_t n = r + 1; n <= kOrders; n += kReporters) {
        if (!LogLines::WaitFor("Save SteamOrderId:", n, 30s)) return;
        ReportSteamDecision(SavedOrders()[n - 1].steamOrderId, true);
        ReportSteamDecision(std::to_string(7000000000ull + n), true);
      }
    });
  }
  for (auto& t : threads) t.join();

  ASSERT_TRUE(CallbackSlot<10>::log().WaitFor(kOrders, 60s)) << CallbackSlot<10>::log().Count();
  const auto saved = SavedOrders();
  ASSERT_EQ(saved.size(), kOrders);
  std::set<std::string> expectedOrders;
  for (const auto& s : saved) expectedOrders.insert(s.orderId);
  EXPECT_EQ(expectedOrders.size(), kOrders);

  std::set<std::string> answeredOrders;
  std::set<std::string> answeredExt;
  for (const auto& record : CallbackSlot<10>::log().Records()) {
    EXPECT_EQ(record.code, 200) << Narrow(record.msg);
    const auto data = nlohmann::json::parse(Narrow(record.data));
    EXPECT_EQ(data["status"], 1);
    answeredOrders.insert(data["orderId"].get<std::string>());
    answeredExt.insert(data["extInfo"].get<std::string>());
  }
  EXPECT_EQ(answeredOrders, expectedOrders);
  EXPECT_EQ(answeredExt.size(), kOrders);
  EXPECT_EQ(CallbackSlot<11>::log().Count(), kOrders);

  // All confirmed and removed: reporting them again reaches nobody.
  for (const auto& s : saved) ReportSteamDecision(s.steamOrderId, true);
  for (const auto& s : saved) {
    EXPECT_TRUE(LogLines::WaitFor("Not Found Steam Order\xA3\xBA" + s.steamOrderId, 1)) << s.steamOrderId;
  }
  EXPECT_EQ(CallbackSlot<10>::log().Count(), kOrders);
  EXPECT_EQ(mock().RequestCount(zarnmock::paths::kPayResult), kOrders);
}
