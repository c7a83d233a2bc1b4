// The whole purchase through the real shared library: catalogue, order creation, Steam's
// authorisation from the stand-in client, the payment result and the game's callback.
#include <set>
#include <thread>

#include "BoundaryFixture.h"

namespace zarntest {
namespace {

using namespace std::chrono_literals;
namespace paths = zarnmock::paths;

nlohmann::json ReplyOf(const zarnmock::RecordedRequest& request) { return nlohmann::json::parse(request.replyBody); }

TEST_F(BoundaryTest, PurchaseFromCatalogueToPaymentCallback) {
  mock().SetIsTestDevice(1);  // switches the SDK's log on, so the test can read it
  StartSdk();
  LoginSdk();

  sdk().QueryProducts(CallbackSlot<30>::fn);
  ASSERT_TRUE(CallbackSlot<30>::log().WaitFor(1));
  const auto catalogue = CallbackSlot<30>::log().Records().front();
  EXPECT_EQ(catalogue.code, 200);
  EXPECT_EQ(catalogue.msg, L"Success");
  const auto list = nlohmann::json::parse(Narrow(catalogue.data));
  std::set<std::string> ids;
  for (const auto& p : list["productList"]) ids.insert(p["productId"].get<std::string>());
  EXPECT_EQ(ids, (std::set<std::string>{"gem_pack_small", "gem_pack_large", "vip_upgrade"}))
      << "only products sold through the STEAM channel";

  // Loaded: answered before the export returns, on the calling thread, without a request.
  const size_t productRequests = mock().RequestCount(paths::kProducts);
  sdk().QueryProducts(CallbackSlot<31>::fn);
  ASSERT_EQ(CallbackSlot<31>::log().Count(), 1u);
  EXPECT_EQ(CallbackSlot<31>::log().Records().front().thread, std::this_thread::get_id());
  EXPECT_EQ(mock().RequestCount(paths::kProducts), productRequests);

  EXPECT_TRUE(sdk().IsPayAvailable());
  sdk().CallPay(L"gem_pack_large", L"ext-\u4e2d", CallbackSlot<32>::fn);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kCreateOrder, 1));
  const auto order = ReplyOf(mock().Requests(paths::kCreateOrder)[0]);
  const std::string steamOrderId = order["extInfo"]["steamOrderId"];
  const int64_t amount = order["defaultAmountMicro"];
  ASSERT_GT(std::stoull(steamOrderId), 1ULL << 32);
  WaitForStoredOrder(steamOrderId);
  EXPECT_EQ(CallbackSlot<32>::log().Count(), 0u) << "a created order is not reported";

  SteamSim_PushMicroTxnAuthorization(480, std::stoull(steamOrderId), true);
  ASSERT_TRUE(CallbackSlot<32>::log().WaitFor(1));
  const auto paid = CallbackSlot<32>::log().Records().front();
  const auto notify = mock().Requests(paths::kPayResult);
  ASSERT_EQ(notify.size(), 1u);
  EXPECT_TRUE(notify[0].ok) << notify[0].reason;
  EXPECT_EQ(notify[0].Param("status"), "1");
  EXPECT_EQ(notify[0].Param("payAmountMicros"), std::to_string(amount));
  EXPECT_EQ(notify[0].Param("extVerifyInfo"), "{\"steamOrderId\":\"" + steamOrderId + "\"}");
  EXPECT_EQ(notify[0].Param("channelProductId"), "steam.gem.large");
  EXPECT_EQ(paid.code, 200);
  const nlohmann::json expected = {{"amount", amount},
                                   {"currency", order["defaultCurrency"]},
                                   {"extInfo", "ext-\xE4\xB8\xAD"},
                                   {"orderId", order["orderId"]},
                                   {"productId", "gem_pack_large"},
                                   {"quantity", 1},
                                   {"status", 1}};
  EXPECT_EQ(Narrow(paid.data), expected.dump());

  // Confirmed orders are removed: a second report of the same order only logs.
  SteamSim_PushMicroTxnAuthorization(480, std::stoull(steamOrderId), true);
  // "Not Found Steam Order：<id>" with a GBK full-width colon
  const std::string notFound = "Not Found Steam Order\xA3\xBA" + steamOrderId;
  ASSERT_TRUE(WaitUntil([&] { return LogText().find(notFound) != std::string::npos; }, 5s));
  EXPECT_EQ(mock().RequestCount(paths::kPayResult), 1u);
  EXPECT_EQ(CallbackSlot<32>::log().Count(), 1u);
}

TEST_F(BoundaryTest, DeclinedPurchaseIsReportedAndTheOrderKept) {
  mock().SetIsTestDevice(1);
  StartSdk();
  LoginSdk();
  mock().SetPayStatus(0);
  sdk().CallPay(L"gem_pack_small", L"", CallbackSlot<33>::fn);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kCreateOrder, 1));
  const auto order = ReplyOf(mock().Requests(paths::kCreateOrder)[0]);
  const uint64_t steamOrderId = std::stoull(order["extInfo"]["steamOrderId"].get<std::string>());
  WaitForStoredOrder(std::to_string(steamOrderId));

  SteamSim_PushMicroTxnAuthorization(480, steamOrderId, false);
  ASSERT_TRUE(CallbackSlot<33>::log().WaitFor(1));
  const auto declined = mock().Requests(paths::kPayResult)[0];
  EXPECT_TRUE(declined.ok) << declined.reason;
  EXPECT_EQ(declined.Param("status"), "0");
  EXPECT_EQ(declined.Param("payAmountMicros"), "0");
  const auto data = nlohmann::json::parse(Narrow(CallbackSlot<33>::log().Records().front().data));
  EXPECT_EQ(data["status"], 0);
  EXPECT_EQ(data["amount"], order["defaultAmountMicro"]) << "the game still sees the full amount";

  // Not confirmed, so the order stays and a later report notifies the server again.
  SteamSim_PushMicroTxnAuthorization(480, steamOrderId, false);
  ASSERT_TRUE(CallbackSlot<33>::log().WaitFor(2));
  EXPECT_EQ(mock().RequestCount(paths::kPayResult), 2u);
}

TEST_F(BoundaryTest, UnknownProductIsRefusedAndNullCallbacksStaySilent) {
  mock().SetIsTestDevice(1);
  StartSdk();
  LoginSdk();
  sdk().QueryProducts(CallbackSlot<34>::fn);
  ASSERT_TRUE(CallbackSlot<34>::log().WaitFor(1));

  sdk().CallPay(L"GEM_PACK_SMALL", L"", CallbackSlot<35>::fn);
  ASSERT_EQ(CallbackSlot<35>::log().Count(), 1u) << "refused before CallPay returns";
  EXPECT_EQ(CallbackSlot<35>::log().Records().front().code, -400);
  EXPECT_EQ(CallbackSlot<35>::log().Records().front().msg, L"Not Found Product.");
  EXPECT_EQ(CallbackSlot<35>::log().Records().front().data, L"");

  // A purchase with a null callback still runs; nothing is called.
  sdk().CallPay(L"gem_pack_small", L"", nullptr);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kCreateOrder, 1));
  const auto order = ReplyOf(mock().Requests(paths::kCreateOrder)[0]);
  const std::string steamOrderId = order["extInfo"]["steamOrderId"];
  WaitForStoredOrder(steamOrderId);
  SteamSim_PushMicroTxnAuthorization(480, std::stoull(steamOrderId), true);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kPayResult, 1));
}

}  // namespace
}  // namespace zarntest
