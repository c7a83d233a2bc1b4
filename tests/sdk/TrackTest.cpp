// Analytics events as the server receives them: the envelope, names and parameters, the checks
// that only log, the player's state, and the sequence number across threads and restarts.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <map>
#include <set>
#include <tuple>

#include "Os.h"
#include "SdkRig.h"
#include "platform/Platform.h"

namespace zarntest {
namespace {

namespace paths = zarnmock::paths;
using nlohmann::json;

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// The lines of the name and parameter checks among everything logged.
std::vector<std::string> CheckLines() {
  std::vector<std::string> lines = LogTap::Lines();
  std::erase_if(lines, [](const std::string& line) {
    return !line.starts_with("Post Event") && !line.starts_with("Star Check") && !line.starts_with("Check Event") &&
           !line.starts_with("Event Check");
  });
  return lines;
}

// The events that arrived, by number. A number may arrive again (an event whose answer Exit did
// not wait for is sent again from the outbox), but only with the same content.
std::map<std::string, std::string> ByNumber(const SdkRig& rig) {
  std::map<std::string, std::string> byNumber;
  for (const json& event : rig.AnalyticsEvents()) {
    const auto [kept, fresh] = byNumber.emplace(event.at("eventOrder").get<std::string>(), event.dump());
    EXPECT_TRUE(fresh || kept->second == event.dump()) << "number " << kept->first << " reused";
  }
  return byNumber;
}

// This machine's standard time as "UTC<hours>" (the hours cut toward zero), from the C library:
// the smaller of the offsets of mid-January and mid-July, as daylight saving only adds.
std::string StandardZoneText() {
  int offset = std::numeric_limits<int>::max();
  for (const std::time_t t : {std::time_t{1705320000}, std::time_t{1721044800}}) {
    const std::tm local = *std::localtime(&t);
    const std::tm utc = *std::gmtime(&t);
    offset = std::min(offset, ((local.tm_yday - utc.tm_yday) * 24 + local.tm_hour - utc.tm_hour) * 60 +
                                  local.tm_min - utc.tm_min);
  }
  const int hours = offset / 60;
  return "UTC" + std::string(hours > 0 ? "+" : "") + std::to_string(hours);
}

// A started SDK whose start-up event has arrived, so that each event posted is the next to arrive.
// The machine it describes is pinned: an os-release of the test's own and no display (POSIX).
// Under wine, whose version and desktop the test cannot choose, their form is checked once.
class Track : public ::testing::Test {
 protected:
  Track() {
    WriteFile(osRelease_.path() / "os-release", "NAME=Zarn\nPRETTY_NAME=\"Zarn Test OS 9\"\n");
    zarnplatform::OverrideSystemFilesForTesting(zarnplatform::SystemFile::OsRelease,
                                                {(osRelease_.path() / "os-release").string()});
  }
  ~Track() override { zarnplatform::OverrideSystemFilesForTesting(zarnplatform::SystemFile::OsRelease, {}); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(rig_.Start());
    ASSERT_TRUE(rig_.mock().WaitForRequests(paths::kAnalytics, 1));
    if (os::RunningUnderWine()) {
      const json sent = rig_.AnalyticsEvents().at(0).at("context");
      const std::string osName = sent.at("os"), resolution = sent.at("resolution");
      EXPECT_TRUE(osName.starts_with("Windows ")) << osName;
      EXPECT_TRUE(resolution.find_first_not_of("0123456789x") == std::string::npos && !resolution.starts_with("0"))
          << resolution;
      context_["os"] = osName;
      context_["resolution"] = resolution;
    }
  }
  json SdkContext() const { return context_; }

  TempDir osRelease_;
  ScopedEnv noDisplay_{"DISPLAY", std::nullopt};
  json context_ = {{"os", "Zarn Test OS 9"}, {"resolution", "0x0"}, {"tz", StandardZoneText()}};
  SdkRig rig_;
};

TEST_F(Track, EnvelopeCarriesIdentityTimeSequenceAndContext) {
  using std::chrono::system_clock;
  const auto NowMillis = [] {
    return duration_cast<std::chrono::milliseconds>(system_clock::now().time_since_epoch()).count();
  };
  const int64_t before = NowMillis();
  rig_.sdk().Track().PostEvent("quest_done", R"({"os":"CustomOS","score":10,"tags":["a"],"bad key":true})", 1.5);
  const int64_t after = NowMillis();
  ASSERT_TRUE(rig_.mock().WaitForRequests(paths::kAnalytics, 2));
  const zarnmock::RecordedRequest request = rig_.mock().Requests(paths::kAnalytics).back();
  EXPECT_TRUE(request.ok) << request.reason;
  const json doc = json::parse(request.body);
  EXPECT_EQ(request.body, doc.dump()) << "compact, members in ascending order";
  const int64_t sdkTime = doc.at("sdkTime");
  EXPECT_GE(sdkTime, before);
  EXPECT_LE(sdkTime, after);
  const std::string clientId = json::parse(ReadFile(rig_.DataFolder() / "SharedConf")).at("ClientId");
  json context = SdkContext();
  context.update({{"os", "CustomOS"}, {"score", 10}, {"tags", json::array({"a"})}, {"bad key", true}});
  const json expected = {{"appId", "1001"},          {"context", context},          {"deviceId", clientId},
                         {"event", "qzk_self_quest_done"}, {"eventOrder", "n2"},   {"fingerId", clientId},
                         {"gamePlatform", "steam"},  {"gameUserId", "_unknown"},    {"platform", "html5"},
                         {"sdkTime", sdkTime},       {"sdkType", "html5"},          {"sdkVersion", "SteamEXE_2.0.0"},
                         {"serverId", "_unknown"},   {"userId", -1},                {"value", 1.5}};
  EXPECT_EQ(doc, expected);
  // "value" only for a finite number (JSON has no infinity); the player as the game last set it
  // ("_unknown" for an empty text); the counter goes on.
  rig_.core().SetServerId("s-7");
  rig_.core().SetGameUserId("role-42");
  for (double value : {HUGE_VAL, -HUGE_VAL}) EXPECT_FALSE(rig_.PostEventAndWait("q", "", value).contains("value"));
  const json none = rig_.PostEventAndWait("quest_done");
  EXPECT_FALSE(none.contains("value"));
  EXPECT_EQ(none.at("serverId").get<std::string>() + " " + none.at("gameUserId").get<std::string>(), "s-7 role-42");
  rig_.core().SetGameUserId("");
  const json zero = rig_.PostEventAndWait("quest_done", "", 0.0);
  EXPECT_TRUE(zero.at("value").is_number_float());
  EXPECT_EQ(zero.at("value"), 0.0);
  EXPECT_EQ(zero.at("gameUserId"), "_unknown");
  EXPECT_EQ(zero.at("eventOrder"), "n6");
}

// Custom names get the prefix; parameters join the context when they are an object; the checks of
// names, parameters and the standard events' required parameters only log, and never hold an
// event back.
TEST_F(Track, NamesAndParametersAreSentAsGivenAndChecksOnlyLog) {
  const auto started = [](const std::string& name, const std::string& params) {
    return "Star Check Event Name:" + name + ",Params:" + params;
  };
  const auto wrong = [](const std::string& param, const std::string& value) {
    return "Check Event Error, Param Value Incorrect, Name:" + param + ", Value:" + value;
  };
  const auto missing = [](const std::string& param) {
    return "Check Event Error, Not Contain Musted Param, Name:" + param;
  };
  const auto notJson = [](const std::string& params) { return "Post Event Param Error, Not Valid JSON:" + params; };
  const std::string create = "qzk_user_create", import = "qzk_user_import", update = "qzk_user_info_update";
  const std::string good = R"({"nickname":"Ann","registerTime":1700000000000})";
  const std::string badTime = R"({"nickname":"Ann","registerTime":1700000000})";
  const std::string fracTime = R"({"nickname":"Ann","registerTime":1700000000000.0})";
  const std::string badName = R"({"nickname":"Bo","bad-name":1})";
  const std::string deepEnough = "{\"a\":" + std::string(63, '[') + std::string(63, ']') + "}";
  const std::string tooDeep = "{\"a\":" + std::string(64, '[') + std::string(64, ']') + "}";
  struct Case { std::string name, params; bool joins; std::vector<std::string> lines; std::string sent = {}; };
  std::vector<Case> cases = {
      {create, good, true, {started(create, good)}},
      {create, R"({"nickname":""})", true,
       {started(create, R"({"nickname":""})"), wrong("nickname", "\"\""), missing("registerTime")}},
      {create, badTime, true, {started(create, badTime), wrong("registerTime", "1700000000")}},
      {create, fracTime, true, {started(create, fracTime), wrong("registerTime", "1700000000000.0")}},
      {create, "{broken", false,
       {notJson("{broken"), started(create, "{broken"), "Event Check Param Error, Params Not Json:{broken"}},
      {import, R"({"isFirstEnter":0})", true, {started(import, R"({"isFirstEnter":0})")}},
      {import, "[1]", false, {notJson("[1]"), started(import, "[1]"), missing("isFirstEnter")}},
      {update, "", false, {started(update, ""), "Event Check Param Error, Params Not Json:"}},
      {update, badName, true, {"Post Event Param Error:bad-name", started(update, badName)}},
      {"qzk_level_achieved", "{broken", false, {notJson("{broken")}},
      {"qzk_self_qzk_user_create", "{}", true, {}},
      {"qzk_self_score", "", false, {}},
      {"qzk_self_score", deepEnough, true, {}},
  };
  for (const std::string value : {"true", "\"1\"", "2", "-1"}) {
    const std::string params = R"({"isFirstEnter":)" + value + "}";
    cases.push_back({import, params, true, {started(import, params), wrong("isFirstEnter", value)}});
  }
  for (const std::string params : {"[1,2]", "5", "\"text\"", "null", "{broken", "{} {}", tooDeep.c_str()}) {
    cases.push_back({"qzk_self_score", params, false, {notJson(params)}});
  }
  const std::string longName(100000, 'a');
  for (const auto& [given, sent, bad] : std::vector<std::tuple<std::string, std::string, bool>>{
           {"qzk_startup", "qzk_startup", false}, {"qzk_login", "qzk_login", false},
           {"qzk_self_boss", "qzk_self_boss", false}, {"qzk_self_", "qzk_self_qzk_self_", false},
           {"boss", "qzk_self_boss", false}, {"QZK_SELF_boss", "qzk_self_QZK_SELF_boss", false},
           {"qzk_startup2", "qzk_self_qzk_startup2", false}, {"", "qzk_self_", true},
           {"my-event", "qzk_self_my-event", true}, {"a b", "qzk_self_a b", true}, {"a\n", "qzk_self_a\n", true},
           {"caf\xC3", "qzk_self_caf\xEF\xBF\xBD", true}, {longName, "qzk_self_" + longName, false}}) {
    cases.push_back({given, "", false, {}, sent});
    if (bad) cases.back().lines = {"Post Event Name Error:" + given};
  }
  rig_.core().SetLevel(12);  // in the context of two standard events only
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 30) + " " + c.params.substr(0, 60));
    LogTap::Clear();
    const json doc = rig_.PostEventAndWait(c.name, c.params);
    EXPECT_EQ(doc.at("event"), c.sent.empty() ? c.name : c.sent);
    json context = SdkContext();
    if (c.name == create || c.name == "qzk_level_achieved") context["level"] = 12;
    if (c.joins) context.update(json::parse(c.params));
    EXPECT_EQ(doc.at("context"), context);
    EXPECT_EQ(CheckLines(), c.lines);
  }
  for (const auto& request : rig_.mock().Requests(paths::kAnalytics)) EXPECT_TRUE(request.ok) << request.reason;
}

// Eight threads post at once while the player's state changes, and Exit follows at once: every
// number reaches the server, in this run or from the outbox at the next start, a repeat always
// with the same content, and the state file ends at the last number used. The next start goes on
// from there, and does not attribute the install again.
TEST_F(Track, BurstThenExitLosesNoEventAndTheNextStartSendsTheRest) {
  constexpr int kThreads = 8, kEach = 250, kLast = 1 + kThreads * kEach;
  ASSERT_TRUE(
      WaitUntil([&] { return ReadFile(rig_.AppConfPath()).find("\"AttributionFlag\":1") != std::string::npos; }));
  rig_.mock().Script(paths::kAnalytics, {.delay = 20ms});  // a server slower than the game
  std::vector<std::thread> threads;
  threads.emplace_back([this] {
    for (int i = 0; i < 100; ++i) {
      rig_.core().SetServerId("s" + std::to_string(i));
      rig_.core().SetLevel(i);
    }
  });
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < kEach; ++i) rig_.sdk().Track().PostEvent("qzk_level_achieved", "", kNoValue);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const auto exitStarted = std::chrono::steady_clock::now();
  rig_.core().Exit();
  EXPECT_LT(std::chrono::steady_clock::now() - exitStarted, 1s) << "Exit waited for the queue";
  EXPECT_EQ(json::parse(ReadFile(rig_.AppConfPath())).at("EventOrder"), kLast);

  rig_.mock().ClearScript(paths::kAnalytics);
  rig_.Restart();
  ASSERT_NO_FATAL_FAILURE(rig_.Start());
  std::map<std::string, std::string> byNumber;  // and the second start-up's event:
  ASSERT_TRUE(WaitUntil([&] { return (byNumber = ByNumber(rig_)).size() == kLast + 1; }, 60s)) << byNumber.size();
  EXPECT_EQ(json::parse(byNumber.at("n" + std::to_string(kLast + 1))).at("event"), "qzk_startup");
  // Whether to attribute was decided before the game heard of the start-up.
  ASSERT_TRUE(rig_.mock().WaitForAnswers(paths::kProducts, 2));
  EXPECT_EQ(rig_.mock().RequestCount(paths::kAttribution), 1u);
}

// An outbox left behind that cannot be read is set aside for a look, and delivery goes on.
TEST(Delivery, AnUnreadableOutboxIsSetAside) {
  SdkRig rig;
  const std::filesystem::path folder = rig.AppConfPath().parent_path();
  std::filesystem::create_directories(folder);
  WriteFile(folder / "EventOutbox", "[\"n1\", 2");
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, 1));
  EXPECT_EQ(rig.PostEventAndWait("after").at("eventOrder"), "n2");
  EXPECT_EQ(ReadFile(folder / "EventOutbox.unreadable"), "[\"n1\", 2");
}

// The state file unreadable for a run (held open, or a folder in its way): that run sends no event
// and does not attribute again; the runs before and after number on without a repeat.
TEST(Delivery, AStateFileUnreadableForARunRepeatsNoNumberAcrossThreeRuns) {
  for (const FileBlock how : {FileBlock::FolderInTheWay, FileBlock::HeldSharingNothing, FileBlock::HeldSharingReads}) {
    SCOPED_TRACE(static_cast<int>(how));
    SdkRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.Start());
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(rig.AppConfPath()).find("Flag\":1") != std::string::npos; }));
    rig.sdk().Track().PostEvent("first_run", "", kNoValue);
    ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, 2));
    rig.DestroySdk();  // its Exit writes the exact last number
    {
      const std::shared_ptr<void> blocked = BlockFile(rig.AppConfPath(), how);
      if (!blocked) continue;  // no sharing modes on this system
      rig.Restart();
      ASSERT_NO_FATAL_FAILURE(rig.Start());
      rig.sdk().Track().PostEvent("held", "", kNoValue);
      ASSERT_TRUE(rig.mock().WaitForAnswers(paths::kProducts, 2));  // whether to attribute is decided
      const auto heldSent = [&] { return json(rig.AnalyticsEvents()).dump().find("_held") != std::string::npos; };
      EXPECT_FALSE(WaitUntil(heldSent, 1s));
      rig.DestroySdk();
    }
    EXPECT_EQ(ReadFile(rig.AppConfPath()), R"({"AttributionFlag":1,"EventOrder":2})") << "written while unreadable";
    rig.Restart();
    ASSERT_NO_FATAL_FAILURE(rig.Start());
    rig.sdk().Track().PostEvent("third_run", "", kNoValue);
    std::map<std::string, std::string> byNumber;
    ASSERT_TRUE(WaitUntil([&] { return (byNumber = ByNumber(rig)).size() >= 4; }));
    EXPECT_EQ(byNumber.rbegin()->first, "n4");
    ASSERT_TRUE(rig.mock().WaitForAnswers(paths::kProducts, 3));
    EXPECT_EQ(rig.mock().RequestCount(paths::kAttribution), 1u);
  }
}

// No state folder can be made (a file in its way): no event leaves and the install is not
// attributed. Once the folder can be made, the waiting events go out numbered in order.
TEST(Delivery, WithoutAStateFolderEventsWaitUntilOneCanBeMade) {
  SdkRig rig(RigOptions{.adjust = [](ZarnSdk::SdkOptions& o) { o.eventDelivery.stateRetry = 20ms; }});
  std::filesystem::create_directories(rig.DataFolder().parent_path());
  WriteFile(rig.DataFolder(), "not a folder");
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  for (const char* name : {"a", "b"}) rig.sdk().Track().PostEvent(name, "", kNoValue);
  ASSERT_TRUE(rig.mock().WaitForAnswers(paths::kProducts, 1));
  EXPECT_EQ(rig.mock().RequestCount(paths::kAnalytics) + rig.mock().RequestCount(paths::kAttribution), 0u);
  std::filesystem::remove(rig.DataFolder());
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, 3));
  std::set<std::string> sent;
  for (const json& e : rig.AnalyticsEvents()) sent.insert(e.value("eventOrder", "") + " " + e.value("event", ""));
  EXPECT_EQ(sent, (std::set<std::string>{"n1 qzk_startup", "n2 qzk_self_a", "n3 qzk_self_b"}));
}

// The server holds back its replies while the game posts past the outbox's bounds: the oldest
// events go, those in flight included, and once the server answers, delivery goes on to the newest
// (an event dropped in flight gives its place among those in flight back).
TEST(Delivery, AnOverflowingOutboxDropsTheOldestAndKeepsDelivering) {
  SdkRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  ASSERT_TRUE(rig.mock().WaitForAnswers(paths::kAnalytics, 1));
  rig.mock().Script(paths::kAnalytics, {.delay = 2s});
  for (int i = 0; i < 2 * ZarnSdk::DeliveryPacing{}.maxInFlight; ++i) rig.sdk().Track().PostEvent("held", "", i);
  ASSERT_TRUE(rig.mock().WaitForRequests(paths::kAnalytics, 2));
  // A quarter of the outbox each, nearly: the fifth pushes out every older event.
  const std::string big = R"({"pad":")" + std::string(ZarnSdk::EventDelivery::kMaxKeptBytes / 4 - 1000, 'p') + "\"}";
  for (int i = 0; i < 5; ++i) rig.sdk().Track().PostEvent("big", big, i);
  rig.mock().ClearScript(paths::kAnalytics);
  // The four newest were answered. Only a big event is that long, and its value comes last.
  const auto newestArrived = [&rig, &big] {
    std::set<std::string> values;
    for (const auto& request : rig.mock().Requests(paths::kAnalytics)) {
      const std::string& body = request.body;
      if (request.replyStatus == 200 && body.size() > big.size()) values.insert(body.substr(body.rfind(':')));
    }
    return values.count(":1.0}") + values.count(":2.0}") + values.count(":3.0}") + values.count(":4.0}") == 4;
  };
  EXPECT_TRUE(WaitUntil(newestArrived, 60s));
  EXPECT_FALSE(LogTap::StartingWith("Event Outbox Full, Oldest Events Dropped:").empty());
}

}  // namespace
}  // namespace zarntest
