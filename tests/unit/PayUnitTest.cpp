// Payment stages over a fake poster and a clock of the test's own: what an order creation reply
// makes of a purchase, Steam reports before and after their order, the payment result's resends,
// and one answer per purchase.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Sdk/CZarnPay.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/EventDelivery.h"
#include "UnitRig.h"
#include "platform/ThreadLauncher.h"

namespace zarntest {
namespace {

using namespace std::chrono_literals;
using ZarnSdk::CZarnPay;
using ZarnSdk::HttpResp;

std::string OrderReply(const std::string& steamOrderId) {
  return R"({"code":200,"msg":"success","orderId":"o-)" + steamOrderId +
         R"(","defaultCurrency":"USD","defaultAmountMicro":990000,"extInfo":{"steamOrderId":")" + steamOrderId +
         R"("}})";
}
HttpResp StatusReply(int status) { return ServerReply(R"({"code":200,"msg":"ok","status":)" + std::to_string(status) + "}", 200, "ok"); }
// What the game is given for a payment result of the order OrderReply("77") makes.
std::string PaymentData(int status) {
  return R"({"amount":990000,"currency":"USD","extInfo":"x","orderId":"o-77","productId":"gem","quantity":1,"status":)" +
         std::to_string(status) + "}";
}

struct PayRig : UnitRig {
  PayRig() {
    session.StoreLogin(session.LoginGeneration(), "token", "100001", "7656");
    session.SetServerId("s-7");
    session.SetGameUserId("role-42");
    pay.Catalogue().Load(nullptr, nullptr);
    poster.Answer(0, ServerReply(kGemList));
  }
  // CallPay; the index of the last order creation posted (SIZE_MAX: none).
  size_t Buy(const std::string& product = "gem") {
    pay.CreateOrder(product, "x", game.Callback());
    const auto creations = poster.To(api.Url(ZarnSdk::calls::kCreateOrder));
    return creations.empty() ? SIZE_MAX : creations.back();
  }
  size_t Order(const std::string& steamOrderId) {
    const size_t index = Buy();
    poster.Answer(index, ServerReply(OrderReply(steamOrderId)));
    return index;
  }
  void Steam(const std::string& steamOrderId, bool authorised, uint32_t appId = kUnitSteamAppId) {
    pay.PayResult(appId, authorised ? "1" : "0", steamOrderId);
  }
  std::vector<size_t> Results() { return poster.To(api.Url(ZarnSdk::calls::kPayResult)); }
  std::string SentStatuses() {
    std::string statuses;
    for (size_t i : Results()) statuses += poster.Params(i)["status"];
    return statuses;
  }

  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + 1000h;
  ZarnSdk::EventDelivery delivery{store, api, sion::DefaultThreadLauncher(), {}};
  ZarnSdk::CZarnTrack track{session, delivery};
  CZarnPay pay{api, session, track, CZarnPay::kFirstRetryDelay, [this] { return now; }};
  GameReplies game;
};

void ExpectOneReply(GameReplies& game, int32_t code, const std::string& msg, const std::string& data) {
  const auto all = game.All();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].code, code);
  EXPECT_EQ(all[0].msg, msg);
  EXPECT_EQ(all[0].data, data);
}

TEST(PayOrder, ACreationThatMakesNoOrderIsTheGamesOneAnswerAndIsNeverSentAgain) {
  const std::string refusal = R"({"code":3001,"msg":"sold out"})";
  struct Case { HttpResp reply; int32_t code; std::string msg, data; };
  std::vector<Case> cases = {
      {ServerReply(refusal, 3001, "sold out"), 3001, "sold out", refusal},
      {NoReply(), -502, "Http Code:, Msg:connection failed", ""},
      {HttpFailure(503), -502, "Http Code:503, Msg:", ""},
      {MakeReply(-501, "[json.exception.parse_error]", ""), -501, "[json.exception.parse_error]", ""}};
  // Accepted, but no order a Steam report could be matched to can be made of it.
  for (const char* members : {R"("orderId":"o")", R"("orderId":"o","extInfo":"{\"steamOrderId\":\"77\"}")",
                              R"("orderId":"o","extInfo":{"steamOrderId":77})",
                              R"("orderId":"o","extInfo":{"steamTransId":"t"})",
                              R"("orderId":"o","extInfo":{"steamOrderId":""})",
                              R"("orderId":5,"extInfo":{"steamOrderId":"77"})",
                              R"("defaultAmountMicro":"990000","extInfo":{"steamOrderId":"77"})",
                              R"("virtualCoinAmount":1e30,"extInfo":{"steamOrderId":"77"})"}) {
    cases.push_back({ServerReply(R"({"code":200,"msg":"success",)" + std::string(members) + "}"), -501,
                     "Server JSON Parse Error.", ""});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.msg + " " + std::string(c.reply.data.begin(), c.reply.data.end()));
    PayRig rig;
    const size_t create = rig.Buy();
    EXPECT_FALSE(rig.poster.Request(create).repeatable);
    rig.poster.Answer(create, c.reply);
    ExpectOneReply(rig.game, c.code, c.msg, c.data);
    rig.Steam("77", true);
    EXPECT_EQ(rig.poster.To(rig.api.Url(ZarnSdk::calls::kCreateOrder)).size(), 1u);
    EXPECT_TRUE(rig.Results().empty()) << "an order was stored";
  }
}

TEST(PayOrder, AProductTheCatalogueLacksOrAFailedCatalogueIsAnsweredWithoutAnOrder) {
  PayRig loaded;
  EXPECT_EQ(loaded.Buy("web_only"), SIZE_MAX);
  ExpectOneReply(loaded.game, -400, "Not Found Product.", "");

  UnitRig parts;
  ZarnSdk::EventDelivery delivery{parts.store, parts.api, sion::DefaultThreadLauncher(), {}};
  ZarnSdk::CZarnTrack track{parts.session, delivery};
  CZarnPay pay{parts.api, parts.session, track};
  GameReplies game;
  pay.CreateOrder("gem", "x", game.Callback());
  parts.poster.Answer(0, HttpFailure(500));
  ExpectOneReply(game, -502, "Query Product Failure, Http Code:500, Msg:", "");
  EXPECT_EQ(parts.poster.Count(), 1u);
}

// The order goes for the player logged in at CallPay; the result names them and the order.
TEST(PayOrder, TheResultTellsTheServerTheOrderAndTheBuyerAndTheGameItsData) {
  PayRig rig;
  const size_t create = rig.Buy();
  const auto sent = rig.poster.Params(create);
  for (const auto& [name, value] : {std::pair{"productId", "gem"}, {"extInfo", "x"}, {"userId", "100001"},
                                    {"serverId", "s-7"}, {"gameUserId", "role-42"}}) {
    EXPECT_EQ(sent.at(name), value) << name;
  }
  rig.session.Logout();
  rig.poster.Answer(create, ServerReply(OrderReply("77")));
  EXPECT_EQ(rig.game.Count(), 0u) << "a created order is answered by its payment result only";
  rig.Steam("77", true);
  ASSERT_EQ(rig.Results().size(), 1u);
  const auto result = rig.poster.Params(rig.Results()[0]);
  for (const auto& [name, value] : {std::pair{"orderId", "o-77"}, {"status", "1"}, {"payAmountMicros", "990000"},
                                    {"channelProductId", "steam.gem"}, {"extVerifyInfo", R"({"steamOrderId":"77"})"},
                                    {"userId", "100001"}, {"gameUserId", "role-42"}}) {
    EXPECT_EQ(result.at(name), value) << name;
  }
  rig.poster.Answer(rig.Results()[0], StatusReply(1));
  ExpectOneReply(rig.game, 200, "ok", PaymentData(1));
}

TEST(PaySteamReport, AReportFindsItsOrderBeforeOrAfterTheCreationReply) {
  const struct {
    const char* name; bool reportFirst; bool creationPending; uint32_t appId; size_t results;
  } cases[] = {
      {"after the order", false, false, kUnitSteamAppId, 1},
      {"before the creation reply", true, true, kUnitSteamAppId, 1},
      {"before any creation: dropped", true, false, kUnitSteamAppId, 0},
      {"another game's", false, false, kUnitSteamAppId + 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PayRig rig;
    if (!c.reportFirst) {
      rig.Order("77");
      rig.Steam("77", true, c.appId);
    } else {
      size_t create = c.creationPending ? rig.Buy() : 0;
      rig.Steam("77", true, c.appId);
      if (!c.creationPending) create = rig.Buy();
      rig.poster.Answer(create, ServerReply(OrderReply("77")));
    }
    EXPECT_EQ(rig.Results().size(), c.results);
  }
}

TEST(PaySteamReport, AKeptReportLivesFiveMinutes) {
  const struct { std::chrono::milliseconds age; bool kept; } cases[] = {
      {0ms, true}, {CZarnPay::kEarlyReportLifetime - 1ms, true}, {CZarnPay::kEarlyReportLifetime, false}, {1h, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.age.count());
    PayRig rig;
    const size_t first = rig.Buy();
    rig.Buy();  // still pending when the first is stored: kept reports stay meanwhile
    rig.Steam("77", true);
    rig.now += c.age;
    rig.Steam("88", true);  // keeping another clears out the old
    rig.poster.Answer(first, ServerReply(OrderReply("77")));
    EXPECT_EQ(rig.Results().size(), c.kept ? 1u : 0u);
  }
}

// The player may have paid: a result the server did not take goes again, the same, four times in
// all, each after a wait drawn under a cap doubling from 2 s, or after the one the server asked
// for up to a minute. Anything the server answered is final.
TEST(PayResult, SentAgainOnlyWhenTheServerMissedItAndAfterTheRightWait) {
  constexpr std::chrono::milliseconds kNoExactWait{-1};
  const struct {
    const char* name; HttpResp reply; bool resent; std::chrono::milliseconds wait;
  } cases[] = {
      {"no reply", NoReply(), true, kNoExactWait},
      {"500", HttpFailure(500), true, kNoExactWait},
      {"503", HttpFailure(503), true, kNoExactWait},
      {"429", HttpFailure(429), true, kNoExactWait},
      {"429 asks 30 s", HttpFailure(429, 30s), true, 30s},
      {"503 asks an hour", HttpFailure(503, 3600s), true, CZarnPay::kLongestRetryAfter},
      {"404", HttpFailure(404), false, kNoExactWait},
      {"envelope 500", ServerReply(R"({"code":500,"msg":"busy","status":1})", 500, "busy"), false, kNoExactWait},
      {"unreadable", MakeReply(-501, "[json.exception.parse_error]", ""), false, kNoExactWait},
      {"status not a number", ServerReply(R"({"code":200,"msg":"ok","status":"1"})", 200, "ok"), false, kNoExactWait},
  };
  int drawnBelowCap = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PayRig rig;
    rig.Order("77");
    rig.Steam("77", true);
    for (int attempt = 0; attempt < CZarnPay::kPayResultAttempts; ++attempt) {
      const auto results = rig.Results();
      ASSERT_EQ(results.size(), static_cast<size_t>(attempt + 1));
      const ZarnSdk::OutgoingRequest request = rig.poster.Request(results.back());
      EXPECT_EQ(request.body, rig.poster.Request(results[0]).body);
      EXPECT_TRUE(request.repeatable);
      if (attempt > 0) {
        ASSERT_TRUE(request.notBefore.has_value());
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*request.notBefore - rig.now);
        const auto cap = CZarnPay::kFirstRetryDelay * (1 << (attempt - 1));
        if (c.wait == kNoExactWait) {
          EXPECT_GE(wait, 0ms);
          EXPECT_LE(wait, cap) << attempt;
          drawnBelowCap += wait < cap;
        } else {
          EXPECT_EQ(wait, c.wait);
        }
      } else {
        EXPECT_FALSE(request.notBefore.has_value());
      }
      EXPECT_EQ(rig.game.Count(), 0u);
      rig.poster.Answer(results.back(), c.reply);
      if (!c.resent) break;
    }
    EXPECT_EQ(rig.Results().size(), c.resent ? 4u : 1u);
    // A 200 that does not read confirms nothing and says so.
    const bool unreadable = c.reply.code == 200;
    ExpectOneReply(rig.game, unreadable ? -501 : c.reply.code, unreadable ? "Server JSON Parse Error." : c.reply.msg,
                   PaymentData(c.reply.code == 500 ? 1 : 0));
  }
  EXPECT_GT(drawnBelowCap, 0) << "the waits are the caps themselves, not drawn under them";
}

// Steam may report again or change its mind, before or after the server answered: the server
// hears each change in order, the game its one result.
TEST(PayResult, EachPurchaseHearsOneResultWhateverSteamRepeats) {
  const struct {
    const char* name; bool first; int answer; std::vector<bool> whileSending; std::vector<bool> afterwards;
    std::string statusesSent;
  } cases[] = {
      {"paid, then repeated", true, 1, {}, {true}, "1"},
      {"declined, then repeated", false, 0, {}, {false}, "00"},
      {"approval while the decline is sent", false, 0, {true}, {}, "01"},
      {"decline repeated while it is sent", false, 0, {false}, {}, "0"},
      {"approval, decline, approval while sent", true, 0, {false, true}, {}, "1"},
      {"decline, approval, decline while sent", false, 0, {true, false}, {}, "01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PayRig rig;
    rig.Order("77");
    rig.Steam("77", c.first);
    for (bool authorised : c.whileSending) rig.Steam("77", authorised);
    size_t answered = 0;
    const auto answerAll = [&] {
      for (; answered < rig.Results().size(); ++answered) rig.poster.Answer(rig.Results()[answered], StatusReply(c.answer));
    };
    answerAll();
    for (bool authorised : c.afterwards) rig.Steam("77", authorised);
    answerAll();
    EXPECT_EQ(rig.SentStatuses(), c.statusesSent);
    ASSERT_EQ(rig.game.Count(), 1u);
    EXPECT_EQ(rig.game.All()[0].data, PaymentData(c.answer));
  }
}

TEST(PayOrder, ASecondOrderUnderTheSameSteamIdFailsTheFirstStillWaiting) {
  PayRig rig;
  rig.Order("77");
  rig.Order("77");
  ExpectOneReply(rig.game, -501, "Server JSON Parse Error.", PaymentData(0));
  rig.Steam("77", true);
  rig.poster.Answer(rig.Results().at(0), StatusReply(1));
  EXPECT_EQ(rig.game.Count(), 2u);
}

}  // namespace
}  // namespace zarntest
