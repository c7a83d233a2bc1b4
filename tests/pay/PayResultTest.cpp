// The payment result: what the server is told for each Steam decision, what the game receives,
// and when the order is let go.
#include <gtest/gtest.h>

#include <thread>

#include "PayFixture.h"
#include "Sdk/CZarnCore.h"

using namespace std::chrono_literals;
using ZarnSdk::CZarnCore;
using zarntest::CallbackSlot;
using zarntest::LogLines;
using zarntest::Narrow;
using zarntest::PayTest;
namespace paths = zarnmock::paths;

namespace {

const std::string kNotFound = "Not Found Steam Order\xA3\xBA";  // full-width colon in GBK

std::string PaymentData(int64_t amount, const std::string& ext, const std::string& orderId,
                        const std::string& productId, int status) {
  return R"({"amount":)" + std::to_string(amount) + R"(,"currency":"USD","extInfo":")" + ext +
         R"(","orderId":")" + orderId + R"(","productId":")" + productId + R"(","quantity":1,"status":)" +
         std::to_string(status) + "}";
}

}  // namespace

TEST_F(PayTest, AuthorisedPaymentIsReportedInFullAndConfirmationRemovesTheOrder) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  CZarnCore::Instance().CallPay("gem_pack_large", "ext-1", CallbackSlot<1>::fn);
  const auto saved = WaitForSavedOrder(1);
  EXPECT_GT(std::stoull(saved.steamOrderId), 0xFFFFFFFFull) << "the mock's Steam ids lie above 32 bits";
  const auto order = ReplyJson(mock().Requests(paths::kCreateOrder).front());
  const int64_t amount = order["defaultAmountMicro"].get<int64_t>();

  ReportSteamDecision(saved.steamOrderId, true);
  ASSERT_TRUE(CallbackSlot<1>::log().WaitFor(1));
  const auto result = CallbackSlot<1>::log().Records().front();
  EXPECT_EQ(result.code, 200);
  EXPECT_EQ(result.msg, L"success");
  const std::string data = PaymentData(amount, "ext-1", saved.orderId, "gem_pack_large", 1);
  EXPECT_EQ(Narrow(result.data), data);
  EXPECT_NE(result.thread, std::this_thread::get_id());

  const auto requests = mock().Requests(paths::kPayResult);
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests.front();
  EXPECT_TRUE(request.ok) << request.reason;
  EXPECT_EQ(request.Param("channelPayType"), "");
  EXPECT_EQ(request.Param("orderId"), saved.orderId);
  EXPECT_EQ(request.Param("extVerifyInfo"), R"({"steamOrderId":")" + saved.steamOrderId + R"("})");
  EXPECT_EQ(request.Param("payAmountMicros"), std::to_string(amount));
  EXPECT_EQ(request.Param("serverId"), "s-7");
  EXPECT_EQ(request.Param("gameUserId"), "role-42");
  EXPECT_EQ(request.Param("status"), "1");
  EXPECT_EQ(request.Param("trxId"), "");
  EXPECT_EQ(request.Param("trxToken"), "");
  EXPECT_EQ(request.Param("channelProductId"), "steam.gem.large") << "the STEAM channel of two";

  EXPECT_EQ(LogLines::StartingWith("Notify Pay Result Success, Remove Order Map:" + saved.steamOrderId).size(), 1u);
  EXPECT_TRUE(LogLines::WaitFor("Notify Pay Result Callback , Data:" + data, 1));

  // Confirmed: a second report finds no order, sends nothing and calls nobody.
  ReportSteamDecision(saved.steamOrderId, true);
  ASSERT_TRUE(LogLines::WaitFor(kNotFound + saved.steamOrderId, 1));
  EXPECT_EQ(mock().RequestCount(paths::kPayResult), 1u);
  EXPECT_EQ(CallbackSlot<1>::log().Count(), 1u);
}

TEST_F(PayTest, DeclinedPaymentReportsNothingToPayAndKeepsTheOrder) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  CZarnCore::Instance().CallPay("gem_pack_small", "d", CallbackSlot<1>::fn);
  const auto saved = WaitForSavedOrder(1);
  const int64_t amount = ReplyJson(mock().Requests(paths::kCreateOrder).front())["defaultAmountMicro"].get<int64_t>();
  ASSERT_GT(amount, 0);

  mock().SetPayStatus(0);
  ReportSteamDecision(saved.steamOrderId, false);
  ASSERT_TRUE(CallbackSlot<1>::log().WaitFor(1));
  auto declined = mock().Requests(paths::kPayResult).front();
  EXPECT_EQ(declined.Param("status"), "0");
  EXPECT_EQ(declined.Param("payAmountMicros"), "0");
  EXPECT_EQ(Narrow(CallbackSlot<1>::log().Records().back().data),
            PaymentData(amount, "d", saved.orderId, "gem_pack_small", 0))
      << "the game still sees the full amount";

  // Still pending: the player's later approval is reported and confirmed.
  mock().SetPayStatus(1);
  ReportSteamDecision(saved.steamOrderId, true);
  ASSERT_TRUE(CallbackSlot<1>::log().WaitFor(2));
  const auto approved = mock().Requests(paths::kPayResult).back();
  EXPECT_EQ(approved.Param("status"), "1");
  EXPECT_EQ(approved.Param("payAmountMicros"), std::to_string(amount));
  EXPECT_EQ(Narrow(CallbackSlot<1>::log().Records().back().data),
            PaymentData(amount, "d", saved.orderId, "gem_pack_small", 1));
}

TEST_F(PayTest, UnconfirmedNotificationsStillReachTheGameAndKeepTheOrder) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  CZarnCore::Instance().CallPay("gem_pack_small", "", CallbackSlot<1>::fn);
  const auto saved = WaitForSavedOrder(1);
  const int64_t amount = ReplyJson(mock().Requests(paths::kCreateOrder).front())["defaultAmountMicro"].get<int64_t>();

  struct Case {
    zarnmock::ReplyScript script;
    int code;
    std::wstring msg;  // empty: not compared
    int status;
  };
  const std::vector<Case> cases = {
      {zarntest::ScriptFailures(1), -502, L"Http Code:500, Msg:", 0},
      {zarntest::ScriptBody("<html>busy</html>"), -501, L"", 0},
      {zarntest::ScriptBody(R"({"code":200,"msg":"ok"})"), 200, L"ok", 0},
      {zarntest::ScriptBody(R"({"code":200,"msg":"ok","status":"1"})"), 200, L"ok", 0},
      {zarntest::ScriptBody(R"({"code":200,"msg":"ok","status":2})"), 200, L"ok", 2},
      {zarntest::ScriptBody(R"({"code":4001,"msg":"verify failed","status":1})"), 4001, L"verify failed", 1},
  };
  size_t calls = 0;
  for (const auto& c : cases) {
    mock().Script(paths::kPayResult, c.script);
    ReportSteamDecision(saved.steamOrderId, true);
    ASSERT_TRUE(CallbackSlot<1>::log().WaitFor(++calls)) << "case " << calls;
    const auto r = CallbackSlot<1>::log().Records().back();
    EXPECT_EQ(r.code, c.code) << "case " << calls;
    if (!c.msg.empty()) {
      EXPECT_EQ(r.msg, c.msg) << "case " << calls;
    }
    EXPECT_EQ(Narrow(r.data), PaymentData(amount, "", saved.orderId, "gem_pack_small", c.status)) << "case " << calls;
  }
  EXPECT_TRUE(LogLines::StartingWith("Notify Pay Result Success").empty());

  // Every one of those kept the order; the normal answer confirms it.
  mock().ClearScript(paths::kPayResult);
  ReportSteamDecision(saved.steamOrderId, true);
  ASSERT_TRUE(CallbackSlot<1>::log().WaitFor(++calls));
  EXPECT_EQ(CallbackSlot<1>::log().Records().back().code, 200);
  EXPECT_EQ(mock().RequestCount(paths::kPayResult), calls);
  EXPECT_EQ(LogLines::StartingWith("Notify Pay Result Success, Remove Order Map:" + saved.steamOrderId).size(), 1u);
}

TEST_F(PayTest, TwoReportsInFlightNotifyTwiceAndCallBackOncePerReply) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  CZarnCore::Instance().CallPay("gem_pack_small", "", CallbackSlot<1>::fn);
  const auto saved = WaitForSavedOrder(1);
  mock().Script(paths::kPayResult, zarntest::ScriptDelay(400ms));
  ReportSteamDecision(saved.steamOrderId, true);
  ReportSteamDecision(saved.steamOrderId, true);
  ASSERT_TRUE(CallbackSlot<1>::log().WaitFor(2));
  EXPECT_EQ(mock().RequestCount(paths::kPayResult), 2u);
  for (const auto& r : CallbackSlot<1>::log().Records()) {
    EXPECT_EQ(nlohmann::json::parse(Narrow(r.data))["status"], 1);
  }
}

TEST_F(PayTest, PurchaseWithNullCallbackStillCreatesAndReportsItsOrder) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  auto& core = CZarnCore::Instance();
  core.CallPay("no_such_product", "", nullptr);  // refused, nobody to tell

  core.CallPay("gem_pack_small", "silent", nullptr);
  const auto saved = WaitForSavedOrder(1);
  ReportSteamDecision(saved.steamOrderId, true);
  ASSERT_TRUE(LogLines::WaitFor("Notify Pay Result Callback , Data:", 1));
  EXPECT_EQ(mock().RequestCount(paths::kPayResult), 1u);
  EXPECT_EQ(LogLines::StartingWith("Notify Pay Result Success, Remove Order Map:" + saved.steamOrderId).size(), 1u);

  // A refused order with nobody to tell ends quietly too.
  mock().Script(paths::kCreateOrder, zarntest::ScriptBody(R"({"code":3001,"msg":"sold out"})"));
  core.CallPay("gem_pack_small", "", nullptr);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kCreateOrder, 2));
}

TEST_F(PayTest, SteamReportAheadOfTheCreationReplyIsKeptForItsOrderAndOnlyThen) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  const std::string early = "9000000000000000101";
  mock().ForceSteamOrderId(early);
  // The dialog can be answered before the creation reply has been handled: hold that reply back
  // well past the pump's delivery of the report.
  mock().Script(paths::kCreateOrder, zarntest::ScriptDelay(1500ms));
  CZarnCore::Instance().CallPay("gem_pack_small", "early", CallbackSlot<1>::fn);
  ReportSteamDecision(early, true);
  ASSERT_TRUE(LogLines::WaitFor(kNotFound + early, 1));
  ASSERT_EQ(mock().RequestCount(paths::kPayResult), 0u) << "the creation reply must still be pending";

  ASSERT_TRUE(CallbackSlot<1>::log().WaitFor(1));
  const auto result = CallbackSlot<1>::log().Records().front();
  EXPECT_EQ(result.code, 200);
  EXPECT_EQ(nlohmann::json::parse(Narrow(result.data))["status"], 1);
  const auto requests = mock().Requests(paths::kPayResult);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests.front().Param("status"), "1");
  EXPECT_EQ(requests.front().Param("extVerifyInfo"), R"({"steamOrderId":")" + early + R"("})");

  // With no creation pending a report for an unknown order is not kept: a later order that
  // happens to carry that id waits for its own report.
  mock().ClearScript(paths::kCreateOrder);
  const std::string stale = "9000000000000000202";
  ReportSteamDecision(stale, true);
  ASSERT_TRUE(LogLines::WaitFor(kNotFound + stale, 1));
  mock().ForceSteamOrderId(stale);
  CZarnCore::Instance().CallPay("gem_pack_small", "later", CallbackSlot<2>::fn);
  ASSERT_EQ(WaitForSavedOrder(2).steamOrderId, stale);
  ReportSteamDecision(stale, false);
  ASSERT_TRUE(CallbackSlot<2>::log().WaitFor(1));
  const auto pays = mock().Requests(paths::kPayResult);
  ASSERT_EQ(pays.size(), 2u);
  EXPECT_EQ(pays.back().Param("status"), "0") << "only the order's own (declined) report is sent";
}
