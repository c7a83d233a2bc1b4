// Event names (prefix rule and name pattern) and the required-parameter checks of the standard
// events, observed through the lines they log; no check ever holds an event back.
#include <string>
#include <utility>
#include <vector>

#include "Sdk/CZarnTrack.h"
#include "TrackFixture.h"

using ZarnSdk::CZarnTrack;
using nlohmann::json;

namespace tracktest {
namespace {

CZarnTrack& track() { return CZarnTrack::Instance(); }

const std::vector<std::string> kCheckPrefixes = {"Star Check", "Check Event", "Event Check", "Post Event"};

// The check lines one CheckEventAndParams call logs.
std::vector<std::string> CheckLines(const std::string& name, const std::string& params) {
  TrackTest::ClearLines();
  track().CheckEventAndParams(name, params);
  return TrackTest::LinesStartingWith(kCheckPrefixes);
}

std::string ValueIncorrect(const std::string& param, const std::string& value) {
  return "Check Event Error, Param Value Incorrect, Name:" + param + ", Value:" + value;
}

std::string Missing(const std::string& param) { return "Check Event Error, Not Contain Musted Param, Name:" + param; }

std::string Started(const std::string& name, const std::string& params) {
  return "Star Check Event Name:" + name + ",Params:" + params;
}

TEST_F(TrackTest, EventNamesGetThePrefixUnlessStandardOrAlreadyPrefixed) {
  InitTracker();
  for (const char* standard : {"qzk_startup", "qzk_login", "qzk_user_import", "qzk_user_create",
                               "qzk_user_info_update", "qzk_level_achieved"}) {
    EXPECT_EQ(track().GetEventName(standard), standard);
  }
  EXPECT_EQ(track().GetEventName("qzk_self_boss"), "qzk_self_boss");
  EXPECT_EQ(track().GetEventName("qzk_self_"), "qzk_self_qzk_self_");
  EXPECT_EQ(track().GetEventName(""), "qzk_self_");
  EXPECT_EQ(track().GetEventName("boss"), "qzk_self_boss");
  EXPECT_EQ(track().GetEventName("QZK_SELF_boss"), "qzk_self_QZK_SELF_boss");
  EXPECT_EQ(track().GetEventName("qzk_startup2"), "qzk_self_qzk_startup2");
  track().InitEventRules();
  EXPECT_EQ(track().GetEventName("qzk_login"), "qzk_login") << "loading the rules again changes nothing";
  EXPECT_EQ(track().GetEventName("login"), "qzk_self_login");
}

TEST_F(TrackTest, NamePatternAnswersAsTheRegularExpressionWould) {
  // What "^[a-zA-Z0-9_]+$" gives under ECMAScript rules: "$" matches only at the very end (no
  // multiline), and the class holds ASCII letters, digits and "_" only.
  const std::vector<std::pair<std::string, bool>> cases{
      {"", false},       {"a", true},          {"Z", true},      {"0", true},     {"_", true},
      {"level_9", true}, {"a-b", false},       {"a b", false},   {"a\n", false}, {"\na", false},
      {"a\nb", false},  {"caf\xC3\xA9", false}, {std::string("a\0b", 3), false}, {"$", false},
      {"^", false},      {"[a]", false},       {"tab\t", false}, {"`", false},    {"{", false},
      {"@", false},      {"[", false}};
  for (const auto& [subject, matches] : cases) {
    EXPECT_EQ(CZarnTrack::RegexMatch(CZarnTrack::kNamePattern, subject), matches) << "subject: " << subject;
  }
  // Far longer than the recursion of a regular-expression engine could survive.
  EXPECT_TRUE(CZarnTrack::RegexMatch(CZarnTrack::kNamePattern, std::string(1 << 20, 'x')));
  EXPECT_FALSE(CZarnTrack::RegexMatch(CZarnTrack::kNamePattern, std::string(1 << 20, 'x') + "-"));
  EXPECT_TRUE(CZarnTrack::RegexMatch("^a+b?$", "aaab"));
  EXPECT_FALSE(CZarnTrack::RegexMatch("^a+b?$", "aaabb"));
  EXPECT_FALSE(CZarnTrack::RegexMatch("(", "(")) << "a pattern that does not compile matches nothing";
}

TEST_F(TrackTest, RequiredParameterChecksLogOneLinePerFault) {
  InitTracker();
  const std::string goodCreate = R"({"nickname":"Ann","registerTime":1700000000000})";
  EXPECT_EQ(CheckLines("qzk_user_create", goodCreate),
            std::vector<std::string>{Started("qzk_user_create", goodCreate)});

  const std::string emptyNick = R"({"nickname":""})";
  EXPECT_EQ(CheckLines("qzk_user_create", emptyNick),
            (std::vector<std::string>{Started("qzk_user_create", emptyNick), ValueIncorrect("nickname", "\"\""),
                                      Missing("registerTime")}));

  for (const auto& [registerTime, accepted] :
       std::vector<std::pair<std::string, bool>>{{"1700000000000", true},
                                                 {"1700000000000.0", false},
                                                 {"1700000000", false},
                                                 {"\"1700000000000\"", false},
                                                 {"-170000000000", true}}) {
    const std::string params = R"({"nickname":"Ann","registerTime":)" + registerTime + "}";
    std::vector<std::string> expected{Started("qzk_user_create", params)};
    if (!accepted) expected.push_back(ValueIncorrect("registerTime", registerTime));
    EXPECT_EQ(CheckLines("qzk_user_create", params), expected) << registerTime;
  }

  for (const auto& [isFirstEnter, accepted] :
       std::vector<std::pair<std::string, bool>>{{"0", true},     {"1", true},  {"true", false}, {"\"1\"", false},
                                                 {"2", false},    {"-1", false}, {"1.0", false},  {"null", false}}) {
    const std::string params = R"({"isFirstEnter":)" + isFirstEnter + "}";
    std::vector<std::string> expected{Started("qzk_user_import", params)};
    if (!accepted) expected.push_back(ValueIncorrect("isFirstEnter", isFirstEnter));
    EXPECT_EQ(CheckLines("qzk_user_import", params), expected) << isFirstEnter;
  }

  EXPECT_EQ(CheckLines("qzk_user_import", "[1]"),
            (std::vector<std::string>{Started("qzk_user_import", "[1]"), Missing("isFirstEnter")}));
  EXPECT_EQ(CheckLines("qzk_user_info_update", ""),
            (std::vector<std::string>{Started("qzk_user_info_update", ""), "Event Check Param Error, Params Not Json:"}));
  EXPECT_EQ(CheckLines("qzk_user_info_update", R"({"nickname":"Bo"})"),
            std::vector<std::string>{Started("qzk_user_info_update", R"({"nickname":"Bo"})")});

  // Events without rules log nothing at all.
  for (const char* name : {"qzk_startup", "qzk_login", "qzk_level_achieved", "custom", "qzk_self_qzk_user_create"}) {
    EXPECT_TRUE(CheckLines(name, "{broken").empty()) << name;
  }
}

TEST_F(TrackTest, FailedChecksNeverHoldTheEventBack) {
  InitTracker();
  ClearLines();
  json doc = Parse(PostAndCapture("qzk_user_info_update", "", kNoValue));
  EXPECT_EQ(doc.at("event"), "qzk_user_info_update");
  EXPECT_EQ(LinesStartingWith(kCheckPrefixes),
            (std::vector<std::string>{Started("qzk_user_info_update", ""), "Event Check Param Error, Params Not Json:"}));

  // Invalid JSON for an event with rules: the tracker's line, then the check's two.
  ClearLines();
  doc = Parse(PostAndCapture("qzk_user_create", "{broken", kNoValue));
  EXPECT_EQ(doc.at("event"), "qzk_user_create");
  EXPECT_EQ(LinesStartingWith(kCheckPrefixes),
            (std::vector<std::string>{"Post Event Param Error, Not Valid JSON:{broken", Started("qzk_user_create", "{broken"),
                                      "Event Check Param Error, Params Not Json:{broken"}));

  ClearLines();
  doc = Parse(PostAndCapture("qzk_user_import", R"({"isFirstEnter":true,"bad-name":1})", kNoValue));
  EXPECT_EQ(doc.at("context").at("isFirstEnter"), true);
  EXPECT_EQ(LinesStartingWith(kCheckPrefixes),
            (std::vector<std::string>{"Post Event Param Error:bad-name",
                                      Started("qzk_user_import", R"({"isFirstEnter":true,"bad-name":1})"),
                                      ValueIncorrect("isFirstEnter", "true")}));
}

}  // namespace
}  // namespace tracktest
