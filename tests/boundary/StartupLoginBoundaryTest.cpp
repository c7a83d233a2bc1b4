// Start-up and login through the real shared library against the mock backend.
#include <thread>

#include "BoundaryFixture.h"

namespace zarntest {
namespace {

using namespace std::chrono_literals;
namespace paths = zarnmock::paths;

void ExpectAllVerified(const zarnmock::MockBackend& mock) {
  for (const auto& r : mock.Requests()) EXPECT_TRUE(r.ok) << r.path << ": " << r.reason;
}

TEST_F(BoundaryTest, WithoutSteamNothingStartsAndNothingIsSent) {
  // Before any start-up: refusals on the calling thread, empty data, Steam untouched.
  sdk().Login(CallbackSlot<1>::fn);
  sdk().CallPay(L"gem_pack_small", L"", CallbackSlot<1>::fn);
  EXPECT_FALSE(sdk().IsPayAvailable());
  ASSERT_EQ(CallbackSlot<1>::log().Count(), 2u);
  for (const auto& r : CallbackSlot<1>::log().Records()) {
    EXPECT_EQ(r.code, -401);
    EXPECT_EQ(r.msg, L"Sdk Not Init.");
    EXPECT_EQ(r.data, L"");
    EXPECT_EQ(r.thread, std::this_thread::get_id());
  }

  SteamSim_SetClientRunning(false);
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<2>::fn);
  ASSERT_EQ(CallbackSlot<2>::log().Count(), 1u) << "answered before Init returns";
  const auto r = CallbackSlot<2>::log().Records().front();
  EXPECT_EQ(r.code, -402);
  EXPECT_EQ(r.msg, L"Steam Init Failure!");
  EXPECT_EQ(r.data, L"");
  EXPECT_EQ(r.thread, std::this_thread::get_id());
  EXPECT_FALSE(sdk().IsPayAvailable());
  sdk().Init(L"1001", L"zarn-demo-key", nullptr);  // a null callback is never called
  EXPECT_TRUE(mock().Requests().empty()) << "no start-up event, no start-up request";
  EXPECT_FALSE(std::filesystem::exists(AppConfPath()));
}

TEST_F(BoundaryTest, StartupHandsTheReplyOverAndAttributesOnce) {
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<3>::fn);
  ASSERT_TRUE(CallbackSlot<3>::log().WaitFor(1));
  const auto reply = CallbackSlot<3>::log().Records().front();
  EXPECT_EQ(reply.code, 200);
  EXPECT_EQ(reply.msg, L"success");
  const auto startups = mock().Requests(paths::kClientConfig);
  ASSERT_EQ(startups.size(), 1u);
  EXPECT_EQ(Narrow(reply.data), startups[0].replyBody) << "data is the whole reply body";
  EXPECT_NE(reply.thread, std::this_thread::get_id());

  // Started: a second Init answers at once and sends nothing.
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<4>::fn);
  ASSERT_EQ(CallbackSlot<4>::log().Count(), 1u);
  EXPECT_EQ(CallbackSlot<4>::log().Records().front().code, 200);
  EXPECT_EQ(CallbackSlot<4>::log().Records().front().msg, L"Sdk already init.");
  EXPECT_TRUE(sdk().IsPayAvailable());

  ASSERT_TRUE(mock().WaitForAnswers(paths::kAttribution, 1));
  ASSERT_TRUE(WaitUntil([&] {
    auto doc = nlohmann::json::parse(ReadFile(AppConfPath()), nullptr, false);
    return doc.is_object() && doc.value("AttributionFlag", 0) == 1;
  }));
  ASSERT_TRUE(mock().WaitForAnswers(paths::kProducts, 1)) << "the catalogue is preloaded";
  EXPECT_EQ(mock().RequestCount(paths::kAttribution), 1u);
  ExpectAllVerified(mock());
}

TEST_F(BoundaryTest, AttributionIsNotRepeatedOnceFlagged) {
  std::filesystem::create_directories(AppConfPath().parent_path());
  WriteFile(AppConfPath(), R"({"AttributionFlag":1,"EventOrder":5,"Mine":"kept"})");
  StartSdk();
  ASSERT_TRUE(mock().WaitForAnswers(paths::kProducts, 1));
  EXPECT_EQ(mock().RequestCount(paths::kAttribution), 0u);
  const auto doc = nlohmann::json::parse(ReadFile(AppConfPath()));
  EXPECT_EQ(doc["EventOrder"], 6);
  EXPECT_EQ(doc["Mine"], "kept");
}

TEST_F(BoundaryTest, RefusedStartupReachesTheGameUnchanged) {
  const std::string body = R"({"code":500,"msg":"maintenance","until":"soon"})";
  mock().Script(paths::kClientConfig, zarnmock::ReplyScript{body});
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<5>::fn);
  ASSERT_TRUE(CallbackSlot<5>::log().WaitFor(1));
  const auto r = CallbackSlot<5>::log().Records().front();
  EXPECT_EQ(r.code, 500);
  EXPECT_EQ(r.msg, L"maintenance");
  EXPECT_EQ(Narrow(r.data), body);
  EXPECT_FALSE(sdk().IsPayAvailable());
  sdk().Login(CallbackSlot<6>::fn);
  ASSERT_EQ(CallbackSlot<6>::log().Count(), 1u);
  EXPECT_EQ(CallbackSlot<6>::log().Records().front().code, -401);

  // A repeated Init after the refusal starts over (same Steam session and pool) and succeeds.
  mock().ClearScript(paths::kClientConfig);
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<7>::fn);
  ASSERT_TRUE(CallbackSlot<7>::log().WaitFor(1));
  EXPECT_EQ(CallbackSlot<7>::log().Records().front().code, 200);
  EXPECT_TRUE(sdk().IsPayAvailable());
}

TEST_F(BoundaryTest, InitRepeatedWhileTheStartupIsOutstandingAnswersEachCallOnce) {
  zarnmock::ReplyScript slow;
  slow.delay = 400ms;
  mock().Script(paths::kClientConfig, slow);
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<8>::fn);
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<9>::fn);
  ASSERT_TRUE(CallbackSlot<8>::log().WaitFor(1));
  ASSERT_TRUE(CallbackSlot<9>::log().WaitFor(1));
  EXPECT_EQ(CallbackSlot<8>::log().Records().front().code, 200);
  EXPECT_EQ(CallbackSlot<9>::log().Records().front().code, 200);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kProducts, 1));
  EXPECT_EQ(CallbackSlot<8>::log().Count(), 1u);
  EXPECT_EQ(CallbackSlot<9>::log().Count(), 1u);
}

TEST_F(BoundaryTest, LoginExchangesTheSteamTicketForTheServersIdentity) {
  SteamSim_SetSteamId(76561198000000777ULL);
  StartSdk();
  mock().SetLoginToken("token-one");
  mock().SetLoginUserId(123);
  sdk().Login(CallbackSlot<10>::fn);
  ASSERT_TRUE(CallbackSlot<10>::log().WaitFor(1));
  const auto reply = CallbackSlot<10>::log().Records().front();
  EXPECT_EQ(reply.code, 200);
  const auto logins = mock().Requests(paths::kLogin);
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(Narrow(reply.data), logins[0].replyBody);
  EXPECT_EQ(logins[0].Param("puserId"), "76561198000000777");
  EXPECT_EQ(logins[0].Param("accessToken").size(), 460u);

  // A second login replaces token and user id: the next order carries the new id.
  mock().SetLoginToken("token-two");
  mock().SetLoginUserId(4294967397LL);  // beyond 32 bits, kept whole
  LoginSdk();
  sdk().CallPay(L"gem_pack_small", L"x", CallbackSlot<11>::fn);
  ASSERT_TRUE(mock().WaitForRequests(paths::kCreateOrder, 1));
  EXPECT_EQ(mock().Requests(paths::kCreateOrder)[0].Param("userId"), "4294967397");

  // A refusal passes through unchanged.
  const std::string refusal = R"({"code":1001,"msg":"account banned"})";
  mock().Script(paths::kLogin, zarnmock::ReplyScript{refusal});
  sdk().Login(CallbackSlot<12>::fn);
  ASSERT_TRUE(CallbackSlot<12>::log().WaitFor(1));
  const auto refused = CallbackSlot<12>::log().Records().front();
  EXPECT_EQ(refused.code, 1001);
  EXPECT_EQ(refused.msg, L"account banned");
  EXPECT_EQ(Narrow(refused.data), refusal);
  ExpectAllVerified(mock());
}

}  // namespace
}  // namespace zarntest
