// Order creation: refusals on the caller's thread, the request the server receives, purchases
// that have to wait for the catalogue, and replies the order cannot be made from.
#include <gtest/gtest.h>

#include <thread>

#include "PayFixture.h"
#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnPay.h"
#include "Sdk/CZarnTrack.h"

using namespace std::chrono_literals;
using ZarnSdk::CZarnCore;
using ZarnSdk::CZarnPay;
using zarntest::CallbackSlot;
using zarntest::LogLines;
using zarntest::Narrow;
using zarntest::PayTest;
namespace paths = zarnmock::paths;

TEST_F(PayTest, UnknownProductIsRefusedAtOnceAndAKnownOneIsOrderedWithoutCallback) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  auto& core = CZarnCore::Instance();

  // Keys match exactly: a different letter case is another product.
  core.CallPay("GEM_PACK_SMALL", "x", CallbackSlot<1>::fn);
  ASSERT_EQ(CallbackSlot<1>::log().Count(), 1u) << "refused before CallPay returns";
  const auto refused = CallbackSlot<1>::log().Records().front();
  EXPECT_EQ(refused.code, -400);
  EXPECT_EQ(refused.msg, L"Not Found Product.");
  EXPECT_TRUE(refused.data.empty());
  EXPECT_EQ(refused.thread, std::this_thread::get_id());
  // "Not Found Product：" with the full-width colon in GBK
  EXPECT_EQ(LogLines::StartingWith("Not Found Product\xA3\xBAGEM_PACK_SMALL").size(), 1u);

  const std::string ext = "level=3&bonus+1 % \xE4\xB8\xAD";
  core.CallPay("gem_pack_small", ext, CallbackSlot<2>::fn);
  const zarntest::SavedOrder saved = WaitForSavedOrder(1);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kCreateOrder, 1));
  const auto request = mock().Requests(paths::kCreateOrder).front();
  EXPECT_TRUE(request.ok) << request.reason;
  EXPECT_EQ(request.Param("productId"), "gem_pack_small");
  EXPECT_EQ(request.Param("serverId"), "s-7");
  EXPECT_EQ(request.Param("gameUserId"), "role-42");
  EXPECT_EQ(request.Param("nickName"), "Night Owl");
  EXPECT_EQ(request.Param("orderAmountMicros"), "0");
  EXPECT_EQ(request.Param("currencyCode"), "");
  EXPECT_EQ(request.Param("extInfo"), ext);
  auto& track = ZarnSdk::CZarnTrack::Instance();
  EXPECT_EQ(request.Param("collectionInfo"),
            nlohmann::json({{"deviceId", track.DeviceId()}, {"resolution", track.Resolution()}}).dump());
  EXPECT_FALSE(track.DeviceId().empty());

  const auto reply = ReplyJson(request);
  EXPECT_EQ(saved.steamOrderId, reply["extInfo"]["steamOrderId"].get<std::string>());
  EXPECT_EQ(saved.orderId, reply["orderId"].get<std::string>());
  EXPECT_EQ(CallbackSlot<2>::log().Count(), 0u) << "a created order is answered by the payment result only";
}

TEST_F(PayTest, PurchaseDuringTheStartUpLoadWaitsForItsReply) {
  mock().Script(paths::kProducts, zarntest::ScriptDelay(3s));
  ASSERT_NO_FATAL_FAILURE(StartSdk());
  ASSERT_NO_FATAL_FAILURE(LogIn());
  ASSERT_TRUE(mock().WaitForRequests(paths::kProducts, 1));
  ASSERT_FALSE(mock().Requests(paths::kProducts).front().answered) << "the preload must still be in flight";

  CZarnPay::Instance().QueryProducts(CallbackSlot<5>::fn);
  CZarnCore::Instance().CallPay("gem_pack_large", "", CallbackSlot<6>::fn);
  EXPECT_EQ(CallbackSlot<5>::log().Count(), 0u);
  EXPECT_EQ(CallbackSlot<6>::log().Count(), 0u);
  EXPECT_EQ(mock().RequestCount(paths::kCreateOrder), 0u);

  WaitForSavedOrder(1);
  ASSERT_TRUE(CallbackSlot<5>::log().WaitFor(1));
  EXPECT_EQ(CallbackSlot<5>::log().Records().front().code, 200);
  EXPECT_EQ(zarntest::ProductsById(CallbackSlot<5>::log().Records().front().data).count("gem_pack_large"), 1u);
  // The query and the purchase were answered by the preload's reply, not by loads of their own.
  EXPECT_EQ(mock().RequestCount(paths::kProducts), 1u);
  EXPECT_EQ(mock().RequestCount(paths::kCreateOrder), 1u);
  EXPECT_EQ(CallbackSlot<6>::log().Count(), 0u);
}

TEST_F(PayTest, FailedCatalogueLoadReachesThePurchaseAndTheNextPurchaseLoadsAgain) {
  mock().Script(paths::kProducts, zarntest::ScriptFailures(2, 300ms));
  ASSERT_NO_FATAL_FAILURE(StartSdk());
  ASSERT_TRUE(mock().WaitForAnswers(paths::kProducts, 1));
  ASSERT_NO_FATAL_FAILURE(LogIn());

  CZarnCore::Instance().CallPay("gem_pack_small", "a", CallbackSlot<7>::fn);
  ASSERT_TRUE(CallbackSlot<7>::log().WaitFor(1));
  const auto failed = CallbackSlot<7>::log().Records().front();
  EXPECT_EQ(failed.code, -502);
  EXPECT_EQ(failed.msg, L"Query Product Failure, Http Code:500, Msg:");
  EXPECT_TRUE(failed.data.empty());
  EXPECT_NE(failed.thread, std::this_thread::get_id());

  // Not loaded yet: the catalogue request and then the order request go out after CallPay.
  CZarnCore::Instance().CallPay("gem_pack_small", "b", CallbackSlot<8>::fn);
  EXPECT_EQ(mock().RequestCount(paths::kCreateOrder), 0u);
  WaitForSavedOrder(1);
  EXPECT_EQ(mock().RequestCount(paths::kProducts), 3u);
  EXPECT_EQ(mock().Requests(paths::kCreateOrder).front().Param("extInfo"), "b");
  EXPECT_EQ(CallbackSlot<8>::log().Count(), 0u);
}

TEST_F(PayTest, CreateOrderReplyFaultsReachTheGameAndStoreNothing) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  auto& core = CZarnCore::Instance();

  // The server's own refusal passes through whole.
  const std::string refusal = R"({"code":3001,"msg":"sold out","detail":{"retry":false}})";
  mock().Script(paths::kCreateOrder, zarntest::ScriptBody(refusal));
  core.CallPay("gem_pack_small", "", CallbackSlot<1>::fn);
  ASSERT_TRUE(CallbackSlot<1>::log().WaitFor(1));
  const auto refused = CallbackSlot<1>::log().Records().front();
  EXPECT_EQ(refused.code, 3001);
  EXPECT_EQ(refused.msg, L"sold out");
  EXPECT_EQ(Narrow(refused.data), refusal);

  const std::vector<std::string> bodies = {
      R"({"code":200,"msg":"success","orderId":5,"extInfo":{"steamOrderId":"9100000001"}})",
      R"({"code":200,"msg":"success","orderId":"o","defaultAmountMicro":"990000","extInfo":{"steamOrderId":"9100000002"}})",
      R"({"code":200,"msg":"success","orderId":"o","virtualCoinAmount":1e30,"extInfo":{"steamOrderId":"9100000003"}})",
      R"({"code":200,"msg":"success","orderId":"o"})",
      R"({"code":200,"msg":"success","orderId":"o","extInfo":"{\"steamOrderId\":\"9100000005\"}"})",
      R"({"code":200,"msg":"success","orderId":"o","extInfo":{"steamOrderId":9100000006}})",
      R"({"code":200,"msg":"success","orderId":"o","extInfo":{"steamTransId":"t"}})",
  };
  size_t calls = 0;
  for (const auto& body : bodies) {
    mock().Script(paths::kCreateOrder, zarntest::ScriptBody(body));
    core.CallPay("gem_pack_small", "", CallbackSlot<2>::fn);
    ASSERT_TRUE(CallbackSlot<2>::log().WaitFor(++calls)) << body;
    const auto r = CallbackSlot<2>::log().Records().back();
    EXPECT_EQ(r.code, -501) << body;
    EXPECT_EQ(r.msg, L"Server JSON Parse Error.") << body;
    EXPECT_TRUE(r.data.empty()) << body;
  }
  EXPECT_TRUE(LogLines::StartingWith("Save SteamOrderId:").empty());

  // Nothing was stored: Steam reports of those ids find no order.
  for (const char* id : {"9100000001", "9100000002", "9100000003", "9100000006"}) {
    ReportSteamDecision(id, true);
    EXPECT_TRUE(LogLines::WaitFor(std::string("Not Found Steam Order\xA3\xBA") + id, 1)) << id;
  }
  EXPECT_EQ(mock().RequestCount(paths::kPayResult), 0u);
}

TEST_F(PayTest, TwoOrdersWithOneSteamOrderIdKeepTheLater) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  mock().ForceSteamOrderId("5000000123");
  CZarnCore::Instance().CallPay("gem_pack_small", "first", CallbackSlot<1>::fn);
  const auto first = WaitForSavedOrder(1);
  CZarnCore::Instance().CallPay("gem_pack_large", "second", CallbackSlot<2>::fn);
  const auto second = WaitForSavedOrder(2);
  ASSERT_EQ(first.steamOrderId, "5000000123");
  ASSERT_EQ(second.steamOrderId, "5000000123");
  ASSERT_NE(first.orderId, second.orderId);

  ReportSteamDecision("5000000123", true);
  ASSERT_TRUE(CallbackSlot<2>::log().WaitFor(1));
  const auto data = nlohmann::json::parse(Narrow(CallbackSlot<2>::log().Records().front().data));
  EXPECT_EQ(data["orderId"], second.orderId);
  EXPECT_EQ(data["extInfo"], "second");
  EXPECT_EQ(data["productId"], "gem_pack_large");
  const auto notified = mock().Requests(paths::kPayResult);
  ASSERT_EQ(notified.size(), 1u);
  EXPECT_EQ(notified.front().Param("orderId"), second.orderId);
  EXPECT_EQ(CallbackSlot<1>::log().Count(), 0u) << "the replaced order is gone";
}
