// Purchases (their refusals are LoginTest.cpp's): the order the server is asked for, the payment
// result the server is told and the game hears, Steam reports that come early or for nobody, and
// many buyers at once.
#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ScriptedServer.h"
#include "SdkRig.h"
#include "TestAuthority.h"
#include "transport/TransportSettings.h"

namespace zarntest {
namespace {

namespace paths = zarnmock::paths;
using nlohmann::json;
using namespace std::chrono_literals;

const std::string kOrderNotFound = "Not Found Steam Order\xA3\xBA";  // full-width colon, GBK
const std::string kPaymentNotified = "Notify Pay Result Callback , Data:";

// What the game is given for a payment result, written out by hand.
std::string PaymentData(int64_t amount, const std::string& ext, const std::string& orderId,
                        const std::string& productId, int status) {
  return R"({"amount":)" + std::to_string(amount) + R"(,"currency":"USD","extInfo":")" + ext + R"(","orderId":")" +
         orderId + R"(","productId":")" + productId + R"(","quantity":1,"status":)" + std::to_string(status) + "}";
}

// The request passed the server's checks (order, signature, fixed values) and carries these.
void ExpectParams(const zarnmock::RecordedRequest& request,
                  const std::vector<std::pair<std::string, std::string>>& expected) {
  EXPECT_TRUE(request.ok) << request.path << ": " << request.reason;
  for (const auto& [name, value] : expected) EXPECT_EQ(request.Param(name), value) << name;
}

// The purchase is credited to the buyer: the player logged in when CallPay was made, whoever
// logs in while the order is still being created.
TEST(Purchase, AuthorisedPaymentIsReportedInFullAndCreditedToTheBuyer) {
  SdkRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.StartReady());  // user 100001, game user "role-42" on "s-7"
  const std::string steamOrder = "18446744073709551615";  // Steam's ids use all 64 bits
  rig.mock().ForceSteamOrderId(steamOrder);
  const std::string ext = "level=3&bonus+1 % \xE4\xB8\xAD";
  rig.mock().Script(paths::kCreateOrder, {.delay = 800ms});
  rig.core().CallPay("gem_pack_large", ext, CallbackSlot<1>::utf8);
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kCreateOrder, 1));
  rig.core().Logout();
  rig.mock().SetLoginUserId(5555);
  rig.core().LoginSteam(CallbackSlot<3>::utf8);
  ASSERT_EQ(CallbackSlot<3>::log().Single().code, 200);
  rig.core().SetServerId("s-2");
  rig.core().SetGameUserId("userB");
  ASSERT_EQ(SdkRig::WaitForSavedOrder(1), steamOrder);
  EXPECT_EQ(CallbackSlot<1>::log().Count(), 0u) << "a created order is answered by its payment result only";

  const zarnmock::RecordedRequest create = rig.mock().Requests(paths::kCreateOrder).at(0);
  ExpectParams(create, {{"productId", "gem_pack_large"}, {"extInfo", ext}, {"serverId", "s-7"},
                        {"gameUserId", "role-42"}, {"nickName", "Night Owl"}, {"userId", "100001"}});
  const auto& track = rig.sdk().Track();
  EXPECT_FALSE(track.DeviceId().empty());
  EXPECT_EQ(create.Param("collectionInfo"),
            R"({"deviceId":")" + track.DeviceId() + R"(","resolution":")" + track.Resolution() + R"("})");
  const json order = json::parse(create.replyBody);
  const auto amount = order["defaultAmountMicro"].get<int64_t>();
  const auto orderId = order["orderId"].get<std::string>();

  SdkRig::ReportSteamDecision(steamOrder, true);
  const CallbackRecord paid = CallbackSlot<1>::log().Single();
  EXPECT_EQ(paid.code, 200);
  EXPECT_EQ(paid.msg, "success");
  EXPECT_EQ(paid.data, PaymentData(amount, ext, orderId, "gem_pack_large", 1));
  EXPECT_NE(paid.thread, std::this_thread::get_id());
  const auto notified = rig.mock().Requests(paths::kPayResult);
  ASSERT_EQ(notified.size(), 1u);
  ExpectParams(notified[0], {{"orderId", orderId}, {"extVerifyInfo", R"({"steamOrderId":")" + steamOrder + R"("})"},
                             {"status", "1"}, {"payAmountMicros", std::to_string(amount)},
                             {"channelProductId", "steam.gem.large"}, {"serverId", "s-7"},
                             {"gameUserId", "role-42"}, {"userId", "100001"}});
}

// The server asks to slow down (429 with Retry-After) through the real transport: the result
// goes again after that wait, the same, and the game hears the answer once.
TEST(Purchase, AResultTheServerAskedToSlowDownForGoesAgainAndIsAnsweredOnce) {
  SdkRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.StartReady());
  rig.mock().SetPayStatus(1);
  rig.mock().Script(paths::kPayResult,
                    {.failuresBeforeSuccess = 1, .failureHttpStatus = 429, .failureRetryAfter = "1"});
  rig.core().CallPay("gem_pack_small", "d", CallbackSlot<1>::utf8);
  const std::string steamOrder = SdkRig::WaitForSavedOrder(1);
  const json order = json::parse(rig.mock().Requests(paths::kCreateOrder).back().replyBody);
  SdkRig::ReportSteamDecision(steamOrder, true);
  const CallbackRecord r = CallbackSlot<1>::log().Single();
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.data, PaymentData(order["defaultAmountMicro"].get<int64_t>(), "d",
                                        order["orderId"].get<std::string>(), "gem_pack_small", 1));
  const auto sent = rig.mock().Requests(paths::kPayResult);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].body, sent[0].body);
}

// Against a server of the test's own: Steam approves the only pending order before its creation
// reply, which the server holds until the SDK has seen that report; then payment results meet a
// server that stays silent past the read limit, resets the connection, or is gone. The player may
// have paid each time, so the result goes out four times before the game hears of the failure.
TEST(Purchase, EarlyApprovalOfTheOnlyOrderAndResultsTheServerCannotReceive) {
  enum class Server { Answers, Silent, Resets, Gone };
  std::atomic<Server> mode{Server::Answers};
  std::atomic<int> orders{0};
  const auto steamOrder = [](int n) { return std::to_string(9300000000 + n); };
  std::optional<ScriptedServer> server;
  server.emplace([&](ScriptedServer::Connection& c) {
    for (std::string request = c.ReadRequest(); !request.empty(); request = c.ReadRequest()) {
      const std::string path = request.substr(5, request.find(' ', 5) - 5);
      std::string members;
      if (path == paths::kClientConfig) members = R"(,"isTestDevice":1)";
      if (path == paths::kLogin) members = R"(,"token":"t","userId":100001)";
      if (path == paths::kProducts) {
        members = R"(,"productList":[{"productId":"gem","payChannel":[{"name":"STEAM","channelProductId":"g"}]}])";
      }
      if (path == paths::kCreateOrder) {
        const int n = ++orders;
        const std::string id = steamOrder(n);
        if (n == 1) LogTap::WaitFor(kOrderNotFound + id);  // until Steam's report has found no order
        members = R"(,"orderId":"o","defaultAmountMicro":5,"extInfo":{"steamOrderId":")" + id + R"("})";
      }
      if (path == paths::kPayResult && mode != Server::Answers) {
        if (mode == Server::Silent) c.HoldUntilReleased();
        return c.EndWith(ScriptedServer::Connection::Ending::Reset);
      }
      if (path == paths::kPayResult) members = R"(,"status":1)";
      const std::string body = R"({"code":200,"msg":"success")" + members + "}";
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
  }, zarncert::MakeServerCert(TrustedAuthority(), {"localhost"}, {"127.0.0.1"}));
  const struct Restore {
    sion::TransportTimeouts saved = sion::GetTransportTimeouts();
    ~Restore() { sion::SetTransportTimeouts(saved); }
  } restore;
  sion::SetTransportTimeouts({5s, 500ms, 5s});
  SdkRig rig(RigOptions{.adjust = [origin = server->Url("")](ZarnSdk::SdkOptions& o) {
    o.apiOrigin = origin;
    o.payResultRetryDelay = 20ms;
  }});
  ASSERT_NO_FATAL_FAILURE(rig.StartReady());
  const struct { Server payResult; int code; std::string msgPrefix; int status; } cases[] = {
      {Server::Answers, 200, "success", 1}, {Server::Silent, -502, "Http Code:, Msg:网络超时:read", 0},
      {Server::Resets, -502, "Http Code:, Msg:", 0}, {Server::Gone, -502, "Http Code:, Msg:连接失败:", 0}};
  for (int n = 1; n <= static_cast<int>(std::size(cases)); ++n) {
    const auto& c = cases[n - 1];
    SCOPED_TRACE(n);
    CallbackSlot<1>::log().Clear();
    rig.core().CallPay("gem", "", CallbackSlot<1>::utf8);
    if (n > 1) {
      ASSERT_EQ(SdkRig::WaitForSavedOrder(n), steamOrder(n));
    }
    mode = c.payResult;
    if (c.payResult == Server::Gone) server.reset();
    SdkRig::ReportSteamDecision(steamOrder(n), true);
    const CallbackRecord r = CallbackSlot<1>::log().Single();
    EXPECT_EQ(r.code, c.code);
    EXPECT_TRUE(r.msg.starts_with(c.msgPrefix)) << r.msg;
    EXPECT_TRUE(r.data.ends_with(R"("status":)" + std::to_string(c.status) + "}")) << r.data;
    EXPECT_EQ(LogTap::StartingWith("Notify Pay Result Failed, Try ").size(), 3u * (n - 1)) << "not sent four times";
  }
  EXPECT_EQ(LogTap::StartingWith("Steam Report Kept For Order, Notify Now:").size(), 1u);
}

// A server that reads a request of one kind on a kept connection and closes it without a reply:
// it may have acted on it. An order creation fails once and never goes again (a second order, a
// second purchase dialog); a login, which the server recognises when it comes again, goes again.
TEST(Purchase, ACallWhoseReplyNeverCameGoesAgainOnlyWhenTheServerKnowsTheRepeat) {
  const std::string body = R"({"code":200,"isTestDevice":1,"userId":7,"token":"t","productList":[{"productId":"p",)"
                           R"("payChannel":[{"name":"STEAM","channelProductId":"c"}]}]})";
  std::atomic<const char*> unanswered{"\x01"};  // matches no request
  ScriptedServer server([&](ScriptedServer::Connection& c) {
    for (bool kept = false;; kept = true) {
      const std::string request = c.ReadRequest();
      if (request.empty() || (kept && request.find(unanswered.load()) != std::string::npos)) return;
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
  });
  // One worker: every request finds the connection of the one before.
  SdkRig rig(RigOptions{.adjust = [&server](ZarnSdk::SdkOptions& o) {
    o.apiOrigin = server.Url("");
    o.workerCount = 1;
  }});
  ASSERT_NO_FATAL_FAILURE(rig.StartReady());
  unanswered = paths::kLogin;
  rig.core().LoginSteam(CallbackSlot<1>::utf8);
  EXPECT_EQ(CallbackSlot<1>::log().Single().code, 200);
  unanswered = paths::kCreateOrder;
  rig.core().CallPay("p", "", CallbackSlot<2>::utf8);
  EXPECT_EQ(CallbackSlot<2>::log().Single().code, -502);
  const auto all = server.Requests();
  const auto sent = [&all](const std::string& path) {
    return std::count_if(all.begin(), all.end(), [&](const std::string& r) { return r.rfind("POST " + path, 0) == 0; });
  };
  EXPECT_EQ(sent(paths::kCreateOrder), 1);
  EXPECT_EQ(sent(paths::kLogin), 3);  // the rig's login, then this one twice
}

TEST(Purchase, StormOfPurchasesWithEarlyRepeatedAndForeignReportsAnswersEachOnce) {
  SdkRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.StartReady());
  constexpr int kBuyers = 4, kEach = 5;
  constexpr size_t kOrders = kBuyers * kEach;
  // The orders get the next kOrders ids, in whichever order. Steam answers each while most
  // creations are still pending (slow creation replies), and again once all are stored; another
  // game's reports for the same ids say the opposite each time.
  const uint64_t firstId = rig.mock().NextSteamOrderId();
  const auto authorised = [firstId](uint64_t id) { return (id - firstId) % 3 != 0; };
  const auto steamReports = [&] {
    for (uint64_t id = firstId; id < firstId + kOrders; ++id) {
      SteamSim_PushMicroTxnAuthorization(SdkRig::kSteamAppId + 1, id, !authorised(id));
      SteamSim_PushMicroTxnAuthorization(SdkRig::kSteamAppId, id, authorised(id));
    }
  };
  rig.mock().Script(paths::kCreateOrder, {.delay = 500ms});
  std::vector<std::thread> buyers;
  for (int b = 0; b < kBuyers; ++b) {
    buyers.emplace_back([&rig, b] {
      const char* products[] = {"gem_pack_small", "gem_pack_large", "vip_upgrade"};
      for (int i = 0; i < kEach; ++i) {
        rig.core().CallPay(products[(b + i) % 3], std::to_string(b) + "-" + std::to_string(i), CallbackSlot<1>::utf8);
        rig.sdk().Pay().QueryProducts(CallbackSlot<2>::utf8);
      }
    });
  }
  for (auto& buyer : buyers) buyer.join();
  steamReports();
  ASSERT_FALSE(SdkRig::WaitForSavedOrder(kOrders).empty());
  steamReports();

  // The game hears of a payment before it is logged, so after the last line every answer is in.
  ASSERT_TRUE(LogTap::WaitFor(kPaymentNotified, kOrders, 60s));
  std::set<std::string> answered;
  const auto records = CallbackSlot<1>::log().Records();
  for (const CallbackRecord& r : records) {
    EXPECT_EQ(r.code, 200) << r.msg;
    answered.insert(json::parse(r.data)["extInfo"].get<std::string>());
  }
  EXPECT_EQ(records.size(), kOrders);
  EXPECT_EQ(answered.size(), kOrders) << "every purchase answered once";
  EXPECT_EQ(CallbackSlot<2>::log().Count(), kOrders);
  for (const auto& request : rig.mock().Requests()) EXPECT_TRUE(request.ok) << request.path << ": " << request.reason;
  std::set<uint64_t> notified;
  for (const auto& request : rig.mock().Requests(paths::kPayResult)) {
    const uint64_t id = std::stoull(json::parse(request.Param("extVerifyInfo"))["steamOrderId"].get<std::string>());
    notified.insert(id);
    EXPECT_EQ(request.Param("status"), authorised(id) ? "1" : "0") << "another game's report was taken";
  }
  EXPECT_EQ(notified.size(), kOrders);
  EXPECT_TRUE(LogTap::WaitFor("Steam Report For Another App Ignored", 2 * kOrders));
  EXPECT_FALSE(LogTap::StartingWith("Steam Report Kept For Order, Notify Now:").empty()) << "no report came early";
}

}  // namespace
}  // namespace zarntest
