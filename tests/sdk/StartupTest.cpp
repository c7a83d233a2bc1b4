// Start-up: the reply handed to the game, test-device logging, the catalogue loaded ahead of the
// game, the start-up event, and the refusals that send nothing.
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>

#include "ScriptedServer.h"
#include "SdkRig.h"
#include "TestAuthority.h"

namespace zarntest {
namespace {

namespace fs = std::filesystem;
namespace paths = zarnmock::paths;
namespace results = ZarnSdk::results;
using nlohmann::json;

TEST(Startup, ReplyReachesTheGameAndTheSdkIsReady) {
  SdkRig rig;
  {
    ScopedSdkLog log;  // an event before the start-up is dropped with one line
    rig.sdk().Track().PostEvent("early_event", R"({"a":1})", 1.0);
    EXPECT_EQ(LogTap::StartingWith("Post Event"), std::vector<std::string>{"Post Event Before Init:early_event"});
  }
  EXPECT_FALSE(fs::exists(rig.AppConfPath()));
  rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<1>::utf8);
  const CallbackRecord r = CallbackSlot<1>::log().Single();
  ASSERT_EQ(r.code, 200) << r.msg;
  EXPECT_NE(r.thread, std::this_thread::get_id());
  // Started: another Init is answered before it returns, and sends nothing.
  rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<2>::utf8);
  EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<2>::log(), results::kAlreadyInit));
  // The catalogue is loaded without the game asking, so its first query is answered at once.
  ASSERT_TRUE(WaitUntil([&] { return rig.sdk().Pay().Catalogue().Loaded(); }));
  rig.core().QueryProducts(CallbackSlot<3>::utf8);
  ASSERT_EQ(CallbackSlot<3>::log().Count(), 1u);
  EXPECT_EQ(CallbackSlot<3>::log().Records()[0].code, 200);
  EXPECT_EQ(rig.mock().RequestCount(paths::kClientConfig) + rig.mock().RequestCount(paths::kProducts), 2u);
  // The start-up event, the first: no value or parameters.
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, 1));
  rig.core().Exit();  // which does not undo the start-up
  const std::vector<json> events = rig.AnalyticsEvents();
  ASSERT_EQ(events.size(), 1u) << "the early event was sent";
  EXPECT_EQ(events[0]["eventOrder"], "n1");
  EXPECT_FALSE(events[0].contains("value"));
  EXPECT_EQ(events[0]["context"].size(), 3u) << events[0]["context"].dump();
  rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<4>::utf8);
  EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<4>::log(), results::kAlreadyInit));
  for (const auto& request : rig.mock().Requests()) EXPECT_TRUE(request.ok) << request.path << ": " << request.reason;
}

TEST(Startup, OnlyATestDeviceReplyTurnsLoggingOnAndOnly200Starts) {
  // msg: empty for the JSON library's text.
  struct Case { int status; std::string body; int code; std::string msg; bool logging; };
  const std::vector<Case> cases = {
      {200, R"({"code":200,"msg":"ok","isTestDevice":1})", 200, "ok", true},
      {200, R"({"code":200,"msg":"ok","isTestDevice":true})", 200, "ok", true},
      {200, R"({"code":200,"msg":"ok","isTestDevice":1.0})", 200, "ok", true},
      {200, R"({"code":200,"msg":"ok","isTestDevice":0})", 200, "ok", false},
      {200, R"({"code":200,"msg":"ok"})", 200, "ok", false},
      {200, R"({"code":200,"msg":"ok","isTestDevice":"1"})", 200, "ok", false},
      {200, R"({"code":200,"msg":"ok","isTestDevice":[1]})", 200, "ok", false},
      {200, R"({"code":500,"msg":"down","isTestDevice":1})", 500, "down", false},
      {503, R"({"code":200,"msg":"ok","isTestDevice":1})", -502, "Http Code:503, Msg:", false},
      {200, "<html>busy</html>", -501, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    SdkRig rig(RigOptions{.testDevice = false});
    rig.mock().Script(paths::kClientConfig, zarnmock::ReplyScript{.body = c.body, .httpStatus = c.status});
    CallbackSlot<1>::log().Clear();
    rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<1>::utf8);
    const CallbackRecord r = CallbackSlot<1>::log().Single();
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.msg, c.msg.empty() ? r.msg : c.msg);
    EXPECT_EQ(r.data, c.code == -501 || c.code == -502 ? "" : c.body);
    // Events go out either way; their checks log on the calling thread.
    LogTap::Clear();
    rig.sdk().Track().PostEvent("bad name", "", 0.0);
    EXPECT_EQ(!LogTap::StartingWith("Post Event Name Error:bad name").empty(), c.logging);
    if (c.code == 200) continue;
    CallbackSlot<2>::log().Clear();
    rig.core().LoginSteam(CallbackSlot<2>::utf8);
    EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<2>::log(), results::kNotInit));
  }
}

// A rig whose `refused`-th thread launch the system refuses (0: none). Launches come in order:
// the Steam pump, six workers, event delivery, then a ticket wait per login.
RigOptions RefusingLaunch(int refused) {
  auto launches = std::make_shared<std::atomic<int>>(0);
  return {.adjust = [launches, refused](ZarnSdk::SdkOptions& o) {
    o.threadLauncher = [launches, refused, launch = sion::DefaultThreadLauncher()](std::function<void()> body) {
      return ++*launches != refused && launch(std::move(body));
    };
  }};
}

// Without Steam, after Exit, or without one of its threads, Init is refused before it returns and
// nothing is sent or stored. A later Init tries again: it starts once the cause is gone (the
// application id is fixed for the process, and Exit is final).
TEST(Startup, WithoutSteamOrAThreadNothingStartsAndALaterInitTriesAgain) {
  const auto none = [](SdkRig&) {};
  struct Case { std::string name; std::function<void(SdkRig&)> before; int refusedLaunch, retryCode; };
  const Case cases[] = {{"Steam not running", [](SdkRig&) { SteamSim_SetClientRunning(false); }, 0, 200},
                        {"application id 0", [](SdkRig&) { SteamSim_SetAppId(0); }, 0, -402},
                        {"after Exit", [](SdkRig& rig) { rig.core().Exit(); }, 0, -402},
                        {"Steam pump", none, 1, 200},
                        {"fourth worker", none, 5, 200},
                        {"event delivery", none, 8, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdkRig rig(RefusingLaunch(c.refusedLaunch));
    c.before(rig);
    CallbackSlot<1>::log().Clear();
    rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<1>::utf8);
    EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<1>::log(), results::kSteamInitFailure));
    EXPECT_TRUE(rig.mock().Requests().empty()) << "neither the start-up event nor the start-up request";
    EXPECT_FALSE(fs::exists(rig.AppConfPath()));
    EXPECT_TRUE(c.refusedLaunch > 1 || !fs::exists(rig.DataFolder() / "SharedConf"));  // workers come later
    SteamSim_SetClientRunning(true);
    SteamSim_SetAppId(SdkRig::kSteamAppId);
    CallbackSlot<2>::log().Clear();
    rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<2>::utf8);
    ASSERT_EQ(CallbackSlot<2>::log().Single().code, c.retryCode);
    if (c.retryCode != 200) continue;
    ASSERT_NO_FATAL_FAILURE(rig.LogIn());
    EXPECT_EQ(rig.QueryCatalogue().code, 200);
  }
  // A login whose ticket wait cannot be started hears -403 at once; the next one succeeds.
  SdkRig rig(RefusingLaunch(9));
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  rig.core().LoginSteam(CallbackSlot<3>::utf8);
  EXPECT_TRUE(AnsweredAtOnce(CallbackSlot<3>::log(), results::kTicketTimeout));
  ASSERT_NO_FATAL_FAILURE(rig.LogIn());
}

// Exit ends within half a second whatever the network does, and a start-up it cuts short hears
// -402 once before Exit returns.
TEST(Startup, ExitIsPromptWhateverTheNetworkDoesAndAnswersTheStartUpItCuts) {
  using Connection = ScriptedServer::Connection;
  const auto identity = zarncert::MakeServerCert(TrustedAuthority(), {"localhost"}, {"127.0.0.1"});
  const auto read = [](Connection& c, const std::string& reply) { return !c.ReadRequest().empty() && c.Send(reply); };
  const struct {
    const char* name;
    ScriptedServer::Script script;  // none: the name server never answers
  } stalls[] = {
      {"name server never answers", {}},
      {"server accepts, never answers", [&](Connection& c) { read(c, ""), c.HoldUntilReleased(); }},
      {"TLS handshake stalls", [](Connection& c) { c.HoldUntilReleased(); }},
      {"reply trickles a byte a second", [&](Connection& c) {
         for (bool on = read(c, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"); on; on = c.Send("x")) c.Pause(1s);
       }},
  };
  for (const auto& stall : stalls) {
    SCOPED_TRACE(stall.name);
    const bool tls = std::string(stall.name) != "TLS handshake stalls";
    const auto asked = std::make_shared<std::atomic<bool>>(false), open = std::make_shared<std::atomic<bool>>(false);
    std::optional<ScriptedServer> server;
    if (stall.script) server.emplace(stall.script, tls ? std::optional(identity) : std::nullopt);
    RigOptions options;
    options.adjust = [&](ZarnSdk::SdkOptions& sdk) {
      sdk.apiOrigin = server ? "https://127.0.0.1:" + std::to_string(server->Port()) : "https://stalled.test";
      sdk.nameLookup = [asked, open](const std::string&) {
        *asked = true;
        WaitUntil([&open] { return open->load(); }, 60s);  // until the test ends
        return std::vector<zarnplatform::IpAddress>{};
      };
    };
    SdkRig rig(options);
    CallbackSlot<1>::log().Clear();
    rig.core().InitSdk("1001", "zarn-demo-key", CallbackSlot<1>::utf8);
    ASSERT_TRUE(WaitUntil([&] { return server ? server->WaitForConnections(1, 0ms) : asked->load(); }));
    const auto start = std::chrono::steady_clock::now();
    rig.core().Exit();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(took, 500ms);
    std::printf("exit under \"%s\": %lld ms\n", stall.name, static_cast<long long>(took.count()));
    const std::vector<CallbackRecord> heard = CallbackSlot<1>::log().Records();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_TRUE(IsSdkResult(heard[0], results::kSteamInitFailure));
    *open = true;
  }
}

}  // namespace
}  // namespace zarntest
