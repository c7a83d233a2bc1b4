// Login: the gates in front of Login and CallPay, Steam's ticket answer, Exit during the wait, a
// Logout during a login, and the server's login reply deciding who is logged in (and who the
// events say it is).
#include <atomic>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "SdkRig.h"

namespace zarntest {
namespace {

namespace paths = zarnmock::paths;
namespace results = ZarnSdk::results;
using nlohmann::json;

constexpr uint64_t kSteamId = 76561198000000123ULL;
constexpr char kProduct[] = "gem_pack_small";

// The ticket wait polls every 10 ms, 30 times.
RigOptions QuickSteam() { return RigOptions{.testDevice = true, .steam = {10ms, 10ms, 30}}; }

// Every gate refuses once, with the SDK's own result, on the calling thread before the call
// returns; with no callback it tells nobody.
TEST(Login, GatesRefuseOnTheCallingThreadAndALogoutDuringALoginWins) {
  SdkRig rig;
  using Call = std::function<void(const ZarnSdk::GameCallback&)>;
  const auto refuses = [](const Call& call, const ZarnSdk::SdkResult& expected) {
    CallbackSlot<1>::log().Clear();
    call(CallbackSlot<1>::utf8);
    call(ZarnSdk::GameCallback());
    return AnsweredAtOnce(CallbackSlot<1>::log(), expected);
  };
  const Call login = [&](const auto& callback) { rig.core().LoginSteam(callback); };
  const Call query = [&](const auto& callback) { rig.core().QueryProducts(callback); };
  const auto pay = [&](const std::string& id) -> Call {
    return [&rig, id](const auto& callback) { rig.core().CallPay(id, "x", callback); };
  };
  EXPECT_TRUE(refuses(login, results::kNotInit));
  EXPECT_TRUE(refuses(pay(kProduct), results::kNotInit));
  EXPECT_TRUE(refuses(query, results::kNotInit));  // nothing to sign a request with yet
  EXPECT_FALSE(rig.core().IsPayAvailable());
  EXPECT_TRUE(rig.mock().Requests().empty());
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  EXPECT_TRUE(refuses(pay(kProduct), results::kNotLogin));
  EXPECT_TRUE(rig.core().IsPayAvailable());
  SteamSim_SetOverlayEnabled(false);
  EXPECT_FALSE(rig.core().IsPayAvailable());
  SteamSim_SetOverlayEnabled(true);
  // The Steam client quits during the game: no overlay, and no ticket to log in with.
  SteamSim_SetClientRunning(false);
  EXPECT_FALSE(rig.core().IsPayAvailable());
  EXPECT_TRUE(refuses(login, results::kTicketAuthFailure));
  SteamSim_SetClientRunning(true);
  ASSERT_NO_FATAL_FAILURE(rig.LogIn());
  ASSERT_EQ(rig.QueryCatalogue().code, 200);
  // Ids match exactly; "starter_bundle" is listed for "steam", which is not the STEAM channel.
  for (const char* id : {"GEM_PACK_SMALL", "gem_pack_small ", "starter_bundle", "monthly_pass", ""}) {
    EXPECT_TRUE(refuses(pay(id), results::kProductNotFound)) << id;
  }
  rig.core().Logout();
  EXPECT_TRUE(refuses(pay(kProduct), results::kNotLogin));
  // A Logout while a login's reply is on its way wins: the game hears the server's answer, but
  // the player stays logged out, and events keep the last login's user id.
  rig.mock().Script(paths::kLogin, zarnmock::ReplyScript{.delay = 500ms});
  rig.mock().SetLoginUserId(777);
  rig.core().LoginSteam(CallbackSlot<3>::utf8);
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kLogin, 2));
  rig.core().Logout();
  EXPECT_EQ(CallbackSlot<3>::log().Single().code, 200);
  EXPECT_TRUE(refuses(pay(kProduct), results::kNotLogin));
  EXPECT_EQ(rig.PostEventAndWait("probe")["userId"], 100001);

  // Exit ends a login's ticket wait (the shipped one: 100 polls, 100 ms apart) at once, and
  // refuses what comes after it.
  SteamSim_SetTicketResponse(1, -1);
  rig.core().LoginSteam(CallbackSlot<2>::utf8);
  const auto start = std::chrono::steady_clock::now();
  rig.core().Exit();
  ASSERT_TRUE(CallbackSlot<2>::log().WaitFor(1, 2s)) << "the wait outlived Exit";
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "Exit sat out the ticket wait";
  EXPECT_TRUE(IsSdkResult(CallbackSlot<2>::log().Records()[0], results::kProcessExit));
  EXPECT_NE(CallbackSlot<2>::log().Records()[0].thread, std::this_thread::get_id());
  const size_t logins = rig.mock().RequestCount(paths::kLogin);
  EXPECT_TRUE(refuses(login, results::kProcessExit));
  EXPECT_TRUE(refuses(pay(kProduct), results::kProcessExit));
  EXPECT_FALSE(rig.core().IsPayAvailable());
  EXPECT_EQ(rig.mock().RequestCount(paths::kLogin), logins);
}

// Steam's ticket answer decides whether the server is asked, and the server's reply who is
// logged in.
TEST(Login, SteamTicketAnswerThenServerReplyDecideWhoIsLoggedIn) {
  SdkRig rig(QuickSteam());
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, 1));  // the start-up event
  SteamSim_SetSteamId(kSteamId);
  // Steam's answer to the ticket (a negative delay never answers), and what the game hears.
  struct Answer { int32_t result, delayMs; int code; std::string msg; };
  const Answer answers[] = {
      {5, 0, -404, "Steam Ticket Auth Failure!"}, {1, -1, -403, "Steam Ticket TimeOut!"}, {1, 35, 200, "success"}};
  for (const Answer& c : answers) {
    SCOPED_TRACE(c.code);
    SteamSim_SetTicketResponse(c.result, c.delayMs);
    CallbackSlot<1>::log().Clear();
    const auto start = std::chrono::steady_clock::now();
    rig.core().LoginSteam(CallbackSlot<1>::utf8);
    const CallbackRecord r = CallbackSlot<1>::log().Single();
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.msg, c.msg);
    EXPECT_EQ(r.data.empty(), c.code != 200);
    EXPECT_NE(r.thread, std::this_thread::get_id());
    EXPECT_TRUE(c.code != -403 || std::chrono::steady_clock::now() - start >= 300ms) << "gave up before the last poll";
  }
  // Only the accepted ticket reached the server, with the Steam id and the very ticket logged.
  const auto logins = rig.mock().Requests(paths::kLogin);
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_TRUE(logins[0].ok) << logins[0].reason;
  EXPECT_EQ(logins[0].Param("puserId"), std::to_string(kSteamId));
  const std::string ticket = logins[0].Param("accessToken");
  EXPECT_EQ(ticket.size(), 460u);
  EXPECT_EQ(ticket.find_first_not_of("0123456789abcdef"), std::string::npos) << ticket;
  const auto logged = LogTap::StartingWith("loginSteam Session:");
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_TRUE(logged[2].ends_with(" Tictket\xA3\xBA" + ticket)) << logged[2];  // full-width colon, GBK
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, 2));  // its login event

  rig.core().SetServerId("s-7");  // forgotten by the Logout below
  rig.core().SetNickName("Night Owl");
  // msg unset: the JSON library's text; userId set: logged in as this user.
  struct Case {
    int status; std::string body; int code; std::optional<std::string> msg; std::optional<int64_t> userId; };
  const std::string parseError = "Server JSON Parse Error.";
  const std::vector<Case> cases = {
      {200, R"({"code":200,"msg":"ok","token":"tok-1","userId":123})", 200, "ok", 123},
      {200, R"({"code":200,"token":"tok-2","userId":-7})", 200, "", -7},
      {200, R"({"code":200,"token":"t","userId":9007199254740993})", 200, "", 9007199254740993},
      {200, R"({"code":200,"token":"t","userId":9223372036854775807})", 200, "", INT64_MAX},
      {200, R"({"code":200,"token":"t","userId":-9223372036854775808})", 200, "", INT64_MIN},
      {200, R"({"code":200,"token":"t","userId":true})", 200, "", 1},
      {200, R"({"code":200})", 200, "", -1},
      {200, R"({"code":200,"token":5,"userId":1})", -501, parseError, std::nullopt},
      {200, R"([{"code":200,"token":"t","userId":1}])", -501, std::nullopt, std::nullopt},
      {200, R"({"code":1001,"msg":"banned","token":"t","userId":1})", 1001, "banned", std::nullopt},
      {500, R"({"code":200,"token":"t","userId":1})", -502, "Http Code:500, Msg:", std::nullopt},
  };
  int64_t trackedId = 100001;  // the events' user id: the last successful login's
  size_t orders = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    // Logged out, events keep the last login's user id.
    rig.core().Logout();
    EXPECT_EQ(rig.PostEventAndWait("probe")["userId"], trackedId);
    const size_t analytics = rig.mock().RequestCount(paths::kAnalytics);
    rig.mock().Script(paths::kLogin, zarnmock::ReplyScript{.body = c.body, .httpStatus = c.status});
    CallbackSlot<1>::log().Clear();
    rig.core().LoginSteam(CallbackSlot<1>::utf8);
    const CallbackRecord r = CallbackSlot<1>::log().Single();
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.msg, c.msg.value_or(r.msg));
    EXPECT_EQ(r.data, c.code == -501 || c.code == -502 ? "" : c.body);
    if (!c.userId) {
      CallbackSlot<2>::log().Clear();
      rig.core().CallPay(kProduct, "", CallbackSlot<2>::utf8);
      EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<2>::log(), results::kNotLogin)) << "logged in by a refused reply";
      continue;
    }
    // Logged in: an order carries the stored user id and none of the player Logout forgot.
    trackedId = *c.userId;
    rig.core().CallPay(kProduct, "", ZarnSdk::GameCallback());
    ASSERT_TRUE(rig.mock().WaitForRequests(paths::kCreateOrder, ++orders));
    const zarnmock::RecordedRequest order = rig.mock().Requests(paths::kCreateOrder).back();
    EXPECT_TRUE(order.ok) << order.reason;
    EXPECT_EQ(order.Param("userId"), std::to_string(*c.userId));
    EXPECT_EQ(order.Param("serverId") + order.Param("nickName"), "");
    // The login event, with the new user id.
    ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, analytics + 1));
    const json event = rig.AnalyticsEvents().back();
    EXPECT_EQ(event["event"], "qzk_login");
    EXPECT_EQ(event["userId"], *c.userId);
    EXPECT_EQ(event["context"]["loginPlatform"], "STEAM");
    EXPECT_EQ(event["context"]["puserId"], std::to_string(kSteamId));
  }
  for (const auto& login : rig.mock().Requests(paths::kLogin)) EXPECT_TRUE(login.ok) << login.reason;
}

// A Steam port whose ticket handles the test chooses, and which delivers any ticket answer the
// test queues, asked for or not.
class ScriptedSteamPort final : public ZarnSdk::SteamPort {
 public:
  bool Start() override { return true; }
  std::optional<uint32_t> AppId() override { return SdkRig::kSteamAppId; }
  bool RunCallbacks(ZarnSdk::SteamEvents& events) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [handle, result] : queued_) events.OnAuthSessionTicketResponse(handle, result);
    delivered += queued_.size();
    queued_.clear();
    return true;
  }
  std::optional<ZarnSdk::SteamTicket> RequestTicket(const std::function<void(uint32_t)>& issued) override {
    issued(nextHandle);  // before its answer is queued, as Steam's answer comes in a later pass
    Queue(nextHandle, ZarnSdk::kSteamResultOk);
    return ZarnSdk::SteamTicket{kSteamId, nextHandle, "ticket"};
  }
  bool IsOverlayEnabled() override { return true; }
  void Shutdown() override {}
  void Queue(uint32_t handle, int32_t result) {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.emplace_back(handle, result);
  }

  std::atomic<size_t> delivered{0};
  std::atomic<uint32_t> nextHandle{1};

 private:
  std::mutex mutex_;
  std::vector<std::pair<uint32_t, int32_t>> queued_;
};

TEST(Login, TicketAnswersNobodyWaitsForAreNotKept) {
  ScriptedSteamPort* port = nullptr;
  RigOptions options = QuickSteam();
  options.adjust = [&port](ZarnSdk::SdkOptions& o) {
    auto owned = std::make_unique<ScriptedSteamPort>();
    port = owned.get();
    o.steam = std::move(owned);
  };
  SdkRig rig(options);
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  // Answers for tickets the SDK never asked for, a refusal for handle 7 among them.
  constexpr uint32_t kStray = 100000;
  for (uint32_t handle = 1; handle <= kStray; ++handle) port->Queue(handle, handle == 7 ? 5 : 1);
  ASSERT_TRUE(WaitUntil([&] { return port->delivered >= kStray; }));
  // Steam issues handle 7 again and accepts it.
  port->nextHandle = 7;
  rig.core().LoginSteam(CallbackSlot<1>::utf8);
  EXPECT_EQ(CallbackSlot<1>::log().Single().code, 200) << "a stray answer was taken for this login's";
}

}  // namespace
}  // namespace zarntest
