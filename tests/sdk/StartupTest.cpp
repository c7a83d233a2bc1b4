// Start-up: the reply handed to the game, test-device logging, the attribution sent once, the
// catalogue loaded ahead of the game, the start-up event, and the refusals that send nothing.
#include <atomic>
#include <memory>

#include "SdkRig.h"

namespace zarntest {
namespace {

namespace fs = std::filesystem;
namespace paths = zarnmock::paths;
namespace results = ZarnSdk::results;
using nlohmann::json;

bool AttributionStored(const SdkRig& rig) {
  return ReadFile(rig.AppConfPath()).find("\"AttributionFlag\":1") != std::string::npos;
}

TEST(Startup, ReplyReachesTheGameAndTheSdkIsReady) {
  SdkRig rig;
  fs::create_directories(rig.AppConfPath().parent_path());
  WriteFile(rig.AppConfPath(), R"({"Mine":"kept"})");  // a key of someone else's
  rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<1>::fn);
  const CallbackRecord r = CallbackSlot<1>::log().Single();
  ASSERT_EQ(r.code, 200) << Narrow(r.msg);
  EXPECT_EQ(r.msg, L"success");
  EXPECT_NE(r.thread, std::this_thread::get_id());
  const auto startups = rig.mock().Requests(paths::kClientConfig);
  ASSERT_EQ(startups.size(), 1u);
  EXPECT_EQ(Narrow(r.data), startups[0].replyBody) << "the data is the whole reply";
  // Started: another Init is answered before it returns, and sends nothing.
  rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<2>::fn);
  EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<2>::log(), results::kAlreadyInit));
  // The catalogue is loaded without the game asking, so its first query is answered at once.
  ASSERT_TRUE(WaitUntil([&] { return rig.sdk().Pay().Catalogue().Loaded(); }));
  rig.core().QueryProducts(CallbackSlot<3>::fn);
  ASSERT_EQ(CallbackSlot<3>::log().Count(), 1u);
  EXPECT_EQ(CallbackSlot<3>::log().Records()[0].code, 200);
  EXPECT_EQ(rig.mock().RequestCount(paths::kProducts), 1u);
  // The install is attributed once and that is remembered.
  ASSERT_TRUE(WaitUntil([&] { return AttributionStored(rig); }));
  EXPECT_EQ(rig.mock().RequestCount(paths::kAttribution), 1u);
  // The start-up event of a new game: first in the sequence, with no value or parameters.
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, 1));
  const json event = rig.AnalyticsEvents().at(0);
  EXPECT_EQ(event["event"], "qzk_startup");
  EXPECT_EQ(event["eventOrder"], "n1");
  EXPECT_EQ(event["userId"], -1);
  EXPECT_FALSE(event.contains("value"));
  EXPECT_EQ(event["context"].size(), 3u) << event["context"].dump();
  // Exit does not undo the start-up, and leaves the last number used in the state file.
  rig.core().Exit();
  EXPECT_EQ(ReadFile(rig.AppConfPath()), R"({"AttributionFlag":1,"EventOrder":1,"Mine":"kept"})");
  rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<4>::fn);
  EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<4>::log(), results::kAlreadyInit));
  for (const auto& request : rig.mock().Requests()) EXPECT_TRUE(request.ok) << request.path << ": " << request.reason;
}

TEST(Startup, OnlyATestDeviceReplyTurnsLoggingOnAndOnly200Starts) {
  // msg: empty for the JSON library's text.
  struct Case { int status; std::string body; int code; std::wstring msg; bool logging; };
  const std::vector<Case> cases = {
      {200, R"({"code":200,"msg":"ok","isTestDevice":1})", 200, L"ok", true},
      {200, R"({"code":200,"msg":"ok","isTestDevice":true})", 200, L"ok", true},
      {200, R"({"code":200,"msg":"ok","isTestDevice":1.0})", 200, L"ok", true},
      {200, R"({"code":200,"msg":"ok","isTestDevice":0})", 200, L"ok", false},
      {200, R"({"code":200,"msg":"ok"})", 200, L"ok", false},
      {200, R"({"code":200,"msg":"ok","isTestDevice":"1"})", 200, L"ok", false},
      {200, R"({"code":200,"msg":"ok","isTestDevice":[1]})", 200, L"ok", false},
      {200, R"({"code":500,"msg":"down","isTestDevice":1})", 500, L"down", false},
      {503, R"({"code":200,"msg":"ok","isTestDevice":1})", -502, L"Http Code:503, Msg:", false},
      {200, "<html>busy</html>", -501, L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    SdkRig rig(RigOptions{.testDevice = false});
    rig.mock().Script(paths::kClientConfig, zarnmock::ReplyScript{.body = c.body, .httpStatus = c.status});
    CallbackSlot<1>::log().Clear();
    rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<1>::fn);
    const CallbackRecord r = CallbackSlot<1>::log().Single();
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.msg, c.msg.empty() ? r.msg : c.msg);
    EXPECT_EQ(Narrow(r.data), c.code == -501 || c.code == -502 ? "" : c.body);
    // Events go out either way; their checks log on the calling thread.
    LogTap::Clear();
    rig.sdk().Track().PostEvent("bad name", "", 0.0);
    EXPECT_EQ(!LogTap::StartingWith("Post Event Name Error:bad name").empty(), c.logging);
    if (c.code == 200) continue;
    CallbackSlot<2>::log().Clear();
    rig.core().LoginSteam(CallbackSlot<2>::fn);
    EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<2>::log(), results::kNotInit));
  }
}

TEST(Startup, WithoutSteamNothingStartsAndNothingIsSent) {
  // retryCode: of an Init once the Steam client runs again.
  struct Case { std::string name; std::function<void(SdkRig&)> before; int retryCode; };
  const Case cases[] = {{"Steam not running", [](SdkRig&) { SteamSim_SetClientRunning(false); }, 200},
                        {"application id 0", [](SdkRig&) { SteamSim_SetAppId(0); }, -402},  // fixed for the process
                        {"after Exit", [](SdkRig& rig) { rig.core().Exit(); }, -402}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdkRig rig;
    c.before(rig);
    CallbackSlot<1>::log().Clear();
    rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<1>::fn);
    EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<1>::log(), results::kSteamInitFailure));
    EXPECT_TRUE(rig.mock().Requests().empty()) << "neither the start-up event nor the start-up request";
    EXPECT_FALSE(fs::exists(rig.AppConfPath()));
    EXPECT_FALSE(fs::exists(rig.DataFolder() / "SharedConf"));
    SteamSim_SetClientRunning(true);
    SteamSim_SetAppId(SdkRig::kSteamAppId);
    CallbackSlot<2>::log().Clear();
    rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<2>::fn);
    EXPECT_EQ(CallbackSlot<2>::log().Single().code, c.retryCode);
  }
}

TEST(Startup, AThreadTheSystemRefusesFailsItsCallAndALaterCallTriesAgain) {
  // Launches in order: the Steam pump, six workers, event delivery, then a ticket wait per login.
  struct Case { std::string name; int refused; bool initFails; };
  const Case cases[] = {
      {"Steam pump", 1, true}, {"fourth worker", 5, true}, {"event delivery", 8, true}, {"ticket wait", 9, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto launches = std::make_shared<std::atomic<int>>(0);
    SdkRig rig(RigOptions{.adjust = [launches, refused = c.refused](ZarnSdk::SdkOptions& o) {
      o.threadLauncher = [launches, refused, launch = sion::DefaultThreadLauncher()](std::function<void()> body) {
        return ++*launches != refused && launch(std::move(body));
      };
    }});
    CallbackSlot<1>::log().Clear();
    rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<1>::fn);
    if (c.initFails) {
      EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<1>::log(), results::kSteamInitFailure));
      EXPECT_TRUE(rig.mock().Requests().empty());
      ASSERT_NO_FATAL_FAILURE(rig.Start());  // the next try starts what was missing
    } else {
      ASSERT_EQ(CallbackSlot<1>::log().Single().code, 200);
      CallbackSlot<2>::log().Clear();
      rig.core().LoginSteam(CallbackSlot<2>::fn);
      EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<2>::log(), results::kTicketTimeout));
    }
    ASSERT_NO_FATAL_FAILURE(rig.LogIn());
    EXPECT_EQ(rig.QueryCatalogue().code, 200);
  }
}

}  // namespace
}  // namespace zarntest
