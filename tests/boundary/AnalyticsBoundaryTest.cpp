// Analytics through the real shared library: the envelope the mock backend receives, the
// sequence number across a restart of the game, and the login event.
#include <cmath>
#include <limits>

#include "BoundaryFixture.h"

namespace zarntest {
namespace {

using namespace std::chrono_literals;
namespace paths = zarnmock::paths;

// Run in a child process: one start-up of the game, which posts its start-up event.
TEST_F(BoundaryTest, ChildStartsOnce) {
  if (!IsChildProcess()) GTEST_SKIP() << "runs as the restarted game of another test";
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<20>::fn);
  ASSERT_TRUE(CallbackSlot<20>::log().WaitFor(1));
  ASSERT_EQ(CallbackSlot<20>::log().Records().front().code, 200);
  sdk().Exit();
}

TEST_F(BoundaryTest, StartupEventOfAFreshMachineAndItsSuccessorAfterARestart) {
  StartSdk();
  ASSERT_TRUE(mock().WaitForAnswers(paths::kAnalytics, 1));
  const auto first = AnalyticsEvents().front();
  const std::string clientId = mock().Requests(paths::kClientConfig)[0].Param("clientId");
  ASSERT_FALSE(clientId.empty());
  EXPECT_EQ(first["event"], "qzk_startup");
  EXPECT_EQ(first["eventOrder"], "n1");
  EXPECT_EQ(first["userId"], -1);
  EXPECT_EQ(first["serverId"], "_unknown");
  EXPECT_EQ(first["gameUserId"], "_unknown");
  EXPECT_EQ(first["deviceId"], clientId);
  EXPECT_EQ(first["fingerId"], clientId);
  EXPECT_EQ(first["appId"], "1001");
  EXPECT_EQ(first["platform"], "html5");
  EXPECT_EQ(first["gamePlatform"], "steam");
  EXPECT_EQ(first["sdkVersion"], "SteamEXE_2.0.0");
  EXPECT_EQ(first["sdkType"], "html5");
  EXPECT_FALSE(first.contains("value"));
  std::vector<std::string> contextKeys;
  for (const auto& [key, value] : first["context"].items()) contextKeys.push_back(key);
  EXPECT_EQ(contextKeys, (std::vector<std::string>{"os", "resolution", "tz"}));
  const auto headers = mock().Requests(paths::kAnalytics)[0];
  EXPECT_EQ(headers.Header("Content-Type"), "text/plain;charset=UTF-8");
  // Members in ascending order, compact.
  EXPECT_EQ(mock().Requests(paths::kAnalytics)[0].body, first.dump());

  sdk().Exit();
  // The game starts again on the same machine.
  ASSERT_EQ(RunChildProcess("BoundaryTest.ChildStartsOnce"), 0);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kAnalytics, 2));
  const auto second = AnalyticsEvents()[1];
  EXPECT_EQ(second["event"], "qzk_startup");
  EXPECT_EQ(second["eventOrder"], "n2");
  EXPECT_EQ(second["deviceId"], clientId) << "one client id per machine";
  EXPECT_EQ(nlohmann::json::parse(ReadFile(AppConfPath()))["EventOrder"], 2);
}

TEST_F(BoundaryTest, EventsCarryTheIdentityTheGameAndTheServerGave) {
  SteamSim_SetSteamId(76561198000000042ULL);
  StartSdk();
  mock().SetLoginUserId(321);
  LoginSdk();
  ASSERT_TRUE(mock().WaitForAnswers(paths::kAnalytics, 2));
  // Events travel on parallel workers: find them by name, not by arrival.
  auto byName = [this](const std::string& name) {
    for (const auto& e : AnalyticsEvents()) {
      if (e["event"] == name) return e;
    }
    return nlohmann::json();
  };
  const auto login = byName("qzk_login");
  EXPECT_EQ(login["event"], "qzk_login");
  EXPECT_EQ(login["userId"], 321);
  EXPECT_EQ(login["context"]["loginPlatform"], "STEAM");
  EXPECT_EQ(login["context"]["puserId"], "76561198000000042");
  EXPECT_TRUE(login["context"].contains("os"));

  sdk().SetServerId(L"s-7");
  sdk().SetGameUserId(L"");
  sdk().SetLevel(12);
  sdk().Logout();
  sdk().PostEvent(L"qzk_level_achieved", LR"({"os":"MyOS","stage":3})", std::nan(""));
  sdk().PostEvent(L"boss_killed", L"", 0.0);
  ASSERT_TRUE(mock().WaitForAnswers(paths::kAnalytics, 4));
  const auto level = byName("qzk_level_achieved");
  EXPECT_EQ(level["event"], "qzk_level_achieved");
  EXPECT_EQ(level["userId"], 321) << "logout does not reset the tracker's user id";
  // Logout does not refresh the tracker: it keeps the game's values until the next setter.
  EXPECT_EQ(level["serverId"], "s-7");
  EXPECT_EQ(level["gameUserId"], "_unknown");
  EXPECT_EQ(level["context"]["os"], "MyOS");
  EXPECT_EQ(level["context"]["stage"], 3);
  EXPECT_EQ(level["context"]["level"], 12);
  EXPECT_FALSE(level.contains("value"));
  const auto custom = byName("qzk_self_boss_killed");
  EXPECT_EQ(custom["event"], "qzk_self_boss_killed");
  EXPECT_FALSE(custom["context"].contains("level"));
  bool zeroValueSent = false;
  for (const auto& r : mock().Requests(paths::kAnalytics)) {
    if (r.body.find("qzk_self_boss_killed") != std::string::npos) zeroValueSent = r.body.find("\"value\":0.0") != std::string::npos;
  }
  EXPECT_TRUE(zeroValueSent);
  EXPECT_EQ(custom["eventOrder"], "n4");
}

}  // namespace
}  // namespace zarntest
