// The server login: its request on the wire, the reply rules, and what a success stores in the
// core and hands to the tracker.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ApiTestSupport.h"
#include "LoopbackServer.h"
#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/CZarnUser.h"
#include "Sdk/SteamSession.h"
#include "Sdk/ZarnApi.h"
#include "TestSupport.h"
#include "transport/WorkerPool.h"

using ZarnSdk::CZarnCore;
using ZarnSdk::CZarnUser;
using ZarnSdk::HttpResp;
using zarntest::CallbackSlot;
using zarntest::Narrow;

namespace {

const std::string kSteamId = "76561197960287930";
const std::string kTicket = "14000000aabbccdd";
const std::string kLoginPath = "/sdkapi/v22/init.do";
const std::string kAnalyticsPath = "/data/h5/v1.do";

// The "qzk_login" events the server received, in arrival order.
std::vector<nlohmann::json> LoginEvents(zarntest::LoopbackServer& server) {
  std::vector<nlohmann::json> events;
  for (const auto& request : server.Requests(kAnalyticsPath)) {
    const auto doc = nlohmann::json::parse(request.body, nullptr, false);
    if (doc.is_object() && doc.value("event", "") == "qzk_login") events.push_back(doc);
  }
  return events;
}

void ExpectLoggedOut() {
  EXPECT_FALSE(CZarnCore::Instance().isLogin.load());
  EXPECT_EQ(CZarnCore::Instance().GetPlayerState().token, "");
  EXPECT_EQ(CZarnCore::Instance().GetUserId(), "-1");
}

}  // namespace

TEST(Login, SuccessStoresStateRefreshesTrackerAndPassesTheReplyOn) {
  zarntest::TempDir data;
  zarntest::ScopedEnv dataHome("XDG_DATA_HOME", data.str());
  zarntest::LoopbackServer server;
  zarntest::ScopedEnv origin("ZARN_SDK_API_ORIGIN", server.Origin());
  server.SetDefaultReply({200, R"({"code":200})"});

  ZarnSdk::RecordSteamAppId(480);
  CZarnCore::Instance().InitGlobalParams("1001", "k3y");
  ZarnSdk::CZarnTrack::Instance().Init();
  sion::WorkerPool::Instance().Start();

  auto& log = CallbackSlot<0>::log();
  const std::string first = R"({"code":200,"msg":"ok","token":"tok-1","userId":123})";
  server.SetReply(kLoginPath, {200, first});
  CZarnUser::Login(kSteamId, kTicket, CallbackSlot<0>::fn);
  ASSERT_TRUE(log.WaitFor(1));
  auto records = log.Records();
  EXPECT_EQ(records[0].code, 200);
  EXPECT_EQ(records[0].msg, L"ok");
  EXPECT_EQ(Narrow(records[0].data), first);
  EXPECT_TRUE(CZarnCore::Instance().isLogin.load());
  EXPECT_EQ(CZarnCore::Instance().GetPlayerState().token, "tok-1");
  EXPECT_EQ(CZarnCore::Instance().GetUserId(), "123");

  const auto logins = server.Requests(kLoginPath);
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].body, ZarnSdk::ZarnApi::LoginBody(CZarnCore::Instance().GetGlobalParams(), kSteamId, kTicket));

  // The event is queued before the game hears of the login, carrying the new user id.
  ASSERT_TRUE(zarntest::WaitUntil([&] { return LoginEvents(server).size() == 1; }));
  nlohmann::json event = LoginEvents(server)[0];
  EXPECT_EQ(event["userId"], 123);
  EXPECT_EQ(event["context"]["loginPlatform"], "STEAM");
  EXPECT_EQ(event["context"]["puserId"], kSteamId);

  // A second login replaces token and user id.
  server.SetReply(kLoginPath, {200, R"({"code":200,"msg":"again","token":"tok-2","userId":-7})"});
  CZarnUser::Login(kSteamId, kTicket, CallbackSlot<0>::fn);
  ASSERT_TRUE(log.WaitFor(2));
  EXPECT_EQ(log.Records()[1].code, 200);
  EXPECT_EQ(CZarnCore::Instance().GetPlayerState().token, "tok-2");
  EXPECT_EQ(CZarnCore::Instance().GetUserId(), "-7");
  ASSERT_TRUE(zarntest::WaitUntil([&] { return LoginEvents(server).size() == 2; }));
  EXPECT_EQ(LoginEvents(server)[1]["userId"], -7);

  // A refusal is passed through and changes nothing.
  const std::string refusal = R"({"code":1001,"msg":"banned","data":{}})";
  server.SetReply(kLoginPath, {200, refusal});
  CZarnUser::Login(kSteamId, kTicket, CallbackSlot<0>::fn);
  ASSERT_TRUE(log.WaitFor(3));
  records = log.Records();
  EXPECT_EQ(records[2].code, 1001);
  EXPECT_EQ(records[2].msg, L"banned");
  EXPECT_EQ(Narrow(records[2].data), refusal);
  EXPECT_TRUE(CZarnCore::Instance().isLogin.load());
  EXPECT_EQ(CZarnCore::Instance().GetPlayerState().token, "tok-2");
  EXPECT_EQ(CZarnCore::Instance().GetUserId(), "-7");

  EXPECT_EQ(LoginEvents(server).size(), 2u);

  sion::WorkerPool::Instance().Stop();
}

TEST(LoginReply, MalformedSuccessRepliesGiveParseErrorAndStoreNothing) {
  auto& log = CallbackSlot<1>::log();
  const std::vector<std::string> bad = {
      "not json",
      "",
      "[1,2]",
      "\"text\"",
      R"({"code":200,"token":5,"userId":1})",
      R"({"code":200,"token":null,"userId":1})",
      R"({"code":200,"token":"t","userId":"123"})",
      R"({"code":200,"token":"t","userId":1.5})",
      R"({"code":200,"token":"t","userId":null})",
      R"({"code":200,"token":"t","userId":{}})",
      R"({"code":200,"token":"t","userId":18446744073709551615})",
  };
  for (const std::string& data : bad) {
    SCOPED_TRACE(data);
    log.Clear();
    CZarnUser::HandleLoginReply(HttpResp{200, L"ok", std::wstring(data.begin(), data.end())}, kSteamId,
                                CallbackSlot<1>::fn);
    ASSERT_EQ(log.Count(), 1u);
    const auto r = log.Records()[0];
    EXPECT_EQ(r.code, -501);
    EXPECT_EQ(r.msg, L"Server JSON Parse Error.");
    EXPECT_EQ(r.data, L"");
    ExpectLoggedOut();
    // Nobody listening is fine too.
    CZarnUser::HandleLoginReply(HttpResp{200, L"ok", std::wstring(data.begin(), data.end())}, kSteamId, nullptr);
  }

  // The gateway's own failures pass through untouched.
  log.Clear();
  CZarnUser::HandleLoginReply(HttpResp{-501, L"[json.exception.parse_error.101] x", L""}, kSteamId, CallbackSlot<1>::fn);
  CZarnUser::HandleLoginReply(HttpResp{-502, L"Http Code:, Msg:boom", L""}, kSteamId, CallbackSlot<1>::fn);
  ASSERT_EQ(log.Count(), 2u);
  EXPECT_EQ(log.Records()[0].code, -501);
  EXPECT_EQ(log.Records()[0].msg, L"[json.exception.parse_error.101] x");
  EXPECT_EQ(log.Records()[1].code, -502);
  EXPECT_EQ(log.Records()[1].msg, L"Http Code:, Msg:boom");
  ExpectLoggedOut();

  // A bad reply after a good login leaves the earlier login as it was.
  CZarnUser::HandleLoginReply(HttpResp{200, L"", LR"({"token":"kept","userId":5})"}, kSteamId, nullptr);
  CZarnUser::HandleLoginReply(HttpResp{200, L"", LR"({"token":"lost","userId":"6"})"}, kSteamId, nullptr);
  EXPECT_EQ(CZarnCore::Instance().GetPlayerState().token, "kept");
  EXPECT_EQ(CZarnCore::Instance().GetUserId(), "5");
}

TEST(LoginReply, UserIdsAreKeptWhole) {
  auto& log = CallbackSlot<2>::log();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"token":"t","userId":2147483648})", "2147483648"},
      {R"({"token":"t","userId":9007199254740993})", "9007199254740993"},
      {R"({"token":"t","userId":9223372036854775807})", "9223372036854775807"},
      {R"({"token":"t","userId":-9223372036854775808})", "-9223372036854775808"},
      {R"({"token":"t","userId":true})", "1"},
      {R"({"token":"t","userId":false})", "0"},
      {R"({"code":200})", "-1"},
  };
  for (const auto& [data, expected] : cases) {
    SCOPED_TRACE(data);
    log.Clear();
    const std::wstring wide(data.begin(), data.end());
    CZarnUser::HandleLoginReply(HttpResp{200, L"m", wide}, kSteamId, CallbackSlot<2>::fn);
    ASSERT_EQ(log.Count(), 1u);
    EXPECT_EQ(log.Records()[0].code, 200);
    EXPECT_EQ(log.Records()[0].data, wide);
    EXPECT_TRUE(CZarnCore::Instance().isLogin.load());
    EXPECT_EQ(CZarnCore::Instance().GetUserId(), expected);
  }
  // Missing members: logged in with an empty token and no user id.
  EXPECT_EQ(CZarnCore::Instance().GetPlayerState().token, "");
}
