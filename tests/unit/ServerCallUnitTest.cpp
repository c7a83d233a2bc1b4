// A server call made from its table entry alone, over a fake poster: the request as it goes on
// the wire, and its answer read once by the one rule.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "UnitRig.h"

namespace zarntest {
namespace {

TEST(ServerCall, TheLoginEntryMakesTheSignedRequestAndReadsItsAnswerOnce) {
  const std::string good = R"({"code":200,"token":"t","userId":5})";
  const struct {
    const char* name; ZarnSdk::HttpResp reply; int32_t code; std::string msg, data, userId;
  } cases[] = {
      {"read", ServerReply(good), 200, "success", good, "5"},
      {"a member of the wrong type", ServerReply(R"({"code":200,"userId":"5"})"), -501, "Server JSON Parse Error.", "", ""},
      {"refused, still read", ServerReply(R"({"code":3001,"userId":7})", 3001, "no"), 3001, "no", R"({"code":3001,"userId":7})", "7"},
      {"no reply", NoReply(), -502, "Http Code:, Msg:connection failed", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UnitRig rig;
    std::optional<ZarnSdk::Answer<ZarnSdk::LoginReply>> answer;
    rig.api.Post(ZarnSdk::calls::kLogin, {{"puserId", "7656"}, {"accessToken", "ab"}},
                 [&answer](ZarnSdk::Answer<ZarnSdk::LoginReply> a) { answer = std::move(a); });
    const ZarnSdk::OutgoingRequest request = rig.poster.Request(0);
    EXPECT_EQ(request.url, "https://unit.invalid/sdkapi/v22/init.do");
    EXPECT_TRUE(request.repeatable);
    // Signed: "10001" "key" "1" "STEAM" "ab", the empty values adding nothing.
    EXPECT_EQ(request.body,
              R"(appId=10001&os=&sdkVer=&sdkType=&clientId=&runPlatform=&gamePlatform=&platform=STEAM&bindType=1)"
              R"(&puserId=7656&accessToken=ab&extra={"merId":"480"}&osign=4f47b1ee6e3a8ffe56e3eca7969a694d)");
    rig.poster.Answer(0, c.reply);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->resp.code, c.code);
    EXPECT_EQ(answer->resp.msg, c.msg);
    EXPECT_EQ(answer->resp.data, c.data);
    EXPECT_EQ(answer->value ? answer->value->userId : "", c.userId);
    EXPECT_EQ(answer->Ok() != nullptr, c.code == 200);
  }
}

}  // namespace
}  // namespace zarntest
