// The event document as the server receives it: envelope members, their order and types, the
// persistent sequence number, the player's state as the refresh operations copy it, and how
// parameters join the context.
#include <chrono>
#include <filesystem>
#include <string>

#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/ZarnUtils.h"
#include "TrackFixture.h"
#include "tools/mock_backend/ApiPaths.h"

using ZarnSdk::CZarnCore;
using ZarnSdk::CZarnTrack;
using nlohmann::json;

namespace tracktest {
namespace {

int64_t NowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

CZarnTrack& track() { return CZarnTrack::Instance(); }

json ContextOf(const std::string& body) { return json::parse(body).at("context"); }

TEST_F(TrackTest, FirstEventsCarryTheWholeEnvelopeAndAdvanceTheStoredCounter) {
  InitTracker();
  const std::string os = ZarnSdk::GetOsVersion();
  const std::string resolution = ZarnSdk::GetResolutionText();
  const std::string tz = ZarnSdk::GetTimeZoneText();
  const std::string clientId = ClientId();
  ASSERT_FALSE(clientId.empty());
  EXPECT_EQ(LinesStartingWith({"OS Version"}), std::vector<std::string>{"OS Version\xA3\xBA" + os});
  EXPECT_EQ(track().DeviceId(), clientId);
  EXPECT_EQ(track().Resolution(), resolution);
  EXPECT_FALSE(std::filesystem::exists(AppConfPath())) << "Init itself counts nothing";

  const int64_t before = NowMillis();
  const std::string first = PostAndCapture("qzk_startup", "", kNoValue);
  const int64_t after = NowMillis();
  const int64_t sdkTime = Parse(first).at("sdkTime").get<int64_t>();
  EXPECT_GE(sdkTime, before);
  EXPECT_LE(sdkTime, after);
  // Byte for byte: compact, members in ascending name order, no "value" for NaN, no "level".
  const std::string expected = "{\"appId\":\"1001\",\"context\":{\"os\":\"" + os + "\",\"resolution\":\"" + resolution +
                               "\",\"tz\":\"" + tz + "\"},\"deviceId\":\"" + clientId +
                               "\",\"event\":\"qzk_startup\",\"eventOrder\":\"n1\",\"fingerId\":\"" + clientId +
                               "\",\"gamePlatform\":\"steam\",\"gameUserId\":\"_unknown\",\"platform\":\"html5\","
                               "\"sdkTime\":" + std::to_string(sdkTime) +
                               ",\"sdkType\":\"html5\",\"sdkVersion\":\"SteamEXE_2.0.0\",\"serverId\":\"_unknown\","
                               "\"userId\":-1}";
  EXPECT_EQ(first, expected);
  EXPECT_EQ(zarntest::ReadFile(AppConfPath()), "{\"AttributionFlag\":0,\"EventOrder\":1}");

  const auto record = AnalyticsRequests().back();
  EXPECT_EQ(record.method, "POST");
  EXPECT_EQ(record.Header("Content-Type"), "text/plain;charset=UTF-8");
  EXPECT_TRUE(record.ok) << record.reason;

  const std::string second = PostAndCapture("qzk_startup", "", 0.0);
  EXPECT_EQ(Parse(second).at("eventOrder"), "n2");
  EXPECT_NE(second.find(",\"userId\":-1,\"value\":0.0}"), std::string::npos) << second;
  EXPECT_EQ(zarntest::ReadFile(AppConfPath()), "{\"AttributionFlag\":0,\"EventOrder\":2}");

  const json third = Parse(PostAndCapture("qzk_startup", "", -2.5));
  EXPECT_EQ(third.at("eventOrder"), "n3");
  EXPECT_EQ(third.at("value"), -2.5);
}

TEST_F(TrackTest, CounterContinuesFromTheStoredFileAcrossStartsAndKeepsForeignKeys) {
  std::filesystem::create_directories(AppConfPath().parent_path());
  zarntest::WriteFile(AppConfPath(), "{\"AttributionFlag\":1,\"EventOrder\":41,\"Extra\":\"kept\"}");
  InitTracker();
  EXPECT_EQ(Parse(PostAndCapture("qzk_startup", "", kNoValue)).at("eventOrder"), "n42");
  EXPECT_EQ(zarntest::ReadFile(AppConfPath()), "{\"AttributionFlag\":1,\"EventOrder\":42,\"Extra\":\"kept\"}");

  // A repeated start-up initialises again; the count goes on.
  track().Init();
  EXPECT_EQ(Parse(PostAndCapture("qzk_startup", "", kNoValue)).at("eventOrder"), "n43");
}

TEST_F(TrackTest, CounterThatCannotBeWrittenRepeatsItsNumber) {
  // A folder where the file should be: every write fails and every read gives the default.
  std::filesystem::create_directories(AppConfPath());
  InitTracker();
  EXPECT_EQ(Parse(PostAndCapture("a", "", kNoValue)).at("eventOrder"), "n1");
  EXPECT_EQ(Parse(PostAndCapture("b", "", kNoValue)).at("eventOrder"), "n1");
  EXPECT_TRUE(AnalyticsRequests().back().ok) << "the event still goes out";
}

TEST_F(TrackTest, PlayerStateReachesEventsOnlyThroughTheRefreshOperations) {
  CZarnCore& core = CZarnCore::Instance();
  InitTracker();

  core.SetServerId("");
  json doc = Parse(PostAndCapture("quest_done", "", kNoValue));
  EXPECT_EQ(doc.at("serverId"), "_unknown");
  EXPECT_EQ(doc.at("event"), "qzk_self_quest_done");

  core.SetServerId("s-7");
  core.SetGameUserId("");
  core.SetLevel(12);
  doc = Parse(PostAndCapture("quest_done", "", kNoValue));
  EXPECT_EQ(doc.at("serverId"), "s-7");
  EXPECT_EQ(doc.at("gameUserId"), "_unknown");
  EXPECT_FALSE(doc.at("context").contains("level")) << "only two events carry the level";
  EXPECT_FALSE(ContextOf(PostAndCapture("qzk_startup", "", kNoValue)).contains("level"));
  EXPECT_EQ(ContextOf(PostAndCapture("qzk_level_achieved", "", kNoValue)).at("level"), 12);
  const json created =
      ContextOf(PostAndCapture("qzk_user_create", R"({"nickname":"Ann","registerTime":1700000000000})", kNoValue));
  EXPECT_EQ(created.at("level"), 12);
  EXPECT_EQ(created.at("nickname"), "Ann");

  // The login flow: the core stores the id, the tracker re-reads it, then the login event.
  core.SetGameUserId("hero-1");
  core.StoreLogin("token", "123456789012345678");
  track().UpdateUserId();
  const size_t before = AnalyticsCount();
  track().PostLoginEvent("STEAM", "76561198000000001");
  ASSERT_TRUE(mock_->WaitForRequests(zarnmock::paths::kAnalytics, before + 1));
  doc = Parse(AnalyticsRequests().back().body);
  EXPECT_EQ(doc.at("event"), "qzk_login");
  EXPECT_EQ(doc.at("userId"), 123456789012345678);
  EXPECT_EQ(doc.at("gameUserId"), "hero-1");
  const json loginContext = {{"loginPlatform", "STEAM"},
                             {"os", ZarnSdk::GetOsVersion()},
                             {"puserId", "76561198000000001"},
                             {"resolution", track().Resolution()},
                             {"tz", ZarnSdk::GetTimeZoneText()}};
  EXPECT_EQ(doc.at("context"), loginContext);

  // Logout resets the core only; the tracker keeps the last id until the next login.
  core.Logout();
  EXPECT_EQ(Parse(PostAndCapture("after_logout", "", kNoValue)).at("userId"), 123456789012345678);

  struct Case {
    const char* text;
    int64_t expected;
  };
  for (const Case& c : {Case{"9223372036854775807", INT64_MAX}, Case{" +42", 42}, Case{"-1", -1},
                        Case{"77abc", 77}, Case{"abc", -1}, Case{"9223372036854775808", -1}, Case{"+-5", -1},
                        Case{"", -1}}) {
    core.StoreLogin("token", c.text);
    ClearLines();
    track().UpdateUserId();
    EXPECT_EQ(Parse(PostAndCapture("id_check", "", kNoValue)).at("userId"), c.expected) << c.text;
    const bool refused = c.expected == -1 && std::string(c.text) != "-1";
    EXPECT_EQ(LinesStartingWith({"Update UserId Error"}).size(), refused ? 1u : 0u) << c.text;
  }
}

TEST_F(TrackTest, ParametersJoinTheContextAndOnlyObjectsAreAccepted) {
  InitTracker();
  ClearLines();
  json context = ContextOf(PostAndCapture("score", R"({"os":"CustomOS","score":10,"tags":["a"],"bad key":true})", 1.0));
  EXPECT_EQ(context.at("os"), "CustomOS") << "a parameter replaces the SDK's member";
  EXPECT_EQ(context.at("score"), 10);
  EXPECT_EQ(context.at("tags"), json::array({"a"}));
  EXPECT_EQ(context.at("bad key"), true) << "a badly named parameter is still copied";
  EXPECT_EQ(LinesStartingWith({"Post Event"}), std::vector<std::string>{"Post Event Param Error:bad key"});

  ClearLines();
  context = ContextOf(PostAndCapture("score", "", kNoValue));
  EXPECT_EQ(context.size(), 3u);
  EXPECT_TRUE(LinesStartingWith({"Post Event"}).empty()) << "an empty text is no error";

  const std::string tooDeep = "{\"a\":" + std::string(64, '[') + std::string(64, ']') + "}";
  const std::string deepEnough = "{\"a\":" + std::string(63, '[') + std::string(63, ']') + "}";
  for (const std::string& params : {std::string("[1,2]"), std::string("5"), std::string("\"text\""),
                                    std::string("null"), std::string("{broken"), std::string("{} {}"), tooDeep}) {
    ClearLines();
    context = ContextOf(PostAndCapture("score", params, kNoValue));
    EXPECT_EQ(context, json({{"os", ZarnSdk::GetOsVersion()},
                             {"resolution", track().Resolution()},
                             {"tz", ZarnSdk::GetTimeZoneText()}}))
        << params;
    EXPECT_EQ(LinesStartingWith({"Post Event"}),
              std::vector<std::string>{"Post Event Param Error, Not Valid JSON:" + params});
  }
  EXPECT_TRUE(ContextOf(PostAndCapture("score", deepEnough, kNoValue)).contains("a"));

  ClearLines();
  EXPECT_EQ(Parse(PostAndCapture("my-event", "", kNoValue)).at("event"), "qzk_self_my-event");
  EXPECT_EQ(LinesStartingWith({"Post Event"}), std::vector<std::string>{"Post Event Name Error:my-event"});

  // Texts that are not UTF-8 and names far longer than any game uses still go out whole.
  EXPECT_EQ(Parse(PostAndCapture("caf\xC3", "", kNoValue)).at("event"), "qzk_self_caf\xEF\xBF\xBD");
  EXPECT_TRUE(AnalyticsRequests().back().ok) << AnalyticsRequests().back().reason;
  const std::string longName(200000, 'a');
  EXPECT_EQ(Parse(PostAndCapture(longName, "", kNoValue)).at("event"), "qzk_self_" + longName);
}

TEST_F(TrackTest, EventBeforeInitIsDroppedWithOneLineAndTouchesNothing) {
  ClearLines();
  track().PostEvent("early_event", "{\"a\":1}", 1.0);
  EXPECT_EQ(Lines(), std::vector<std::string>{"Post Event Before Init:early_event"});
  EXPECT_FALSE(std::filesystem::exists(AppConfPath().parent_path()));

  InitTracker();
  EXPECT_EQ(Parse(PostAndCapture("qzk_startup", "", kNoValue)).at("eventOrder"), "n1");
  EXPECT_EQ(AnalyticsCount(), 1u) << "the early event was never sent";
}

}  // namespace
}  // namespace tracktest
