// The server login over a fake poster: the request its table entry makes, what its reply
// stores, and the game's one answer.
#include <gtest/gtest.h>

#include <string>

#include "Sdk/CZarnTrack.h"
#include "Sdk/CZarnUser.h"
#include "Sdk/EventDelivery.h"
#include "UnitRig.h"
#include "platform/ThreadLauncher.h"

namespace zarntest {
namespace {

TEST(Login, EachReplyIsTheGamesOneAnswerAndOnlyAWellFormedOneIsStored) {
  const std::string good = R"({"code":200,"token":"t","userId":5})";
  const std::string unreadable = "Server JSON Parse Error.";
  const struct {
    const char* name; ZarnSdk::HttpResp reply; bool logoutMeanwhile; int32_t code; std::string msg, userId;
  } cases[] = {
      {"good", ServerReply(good), false, 200, "success", "5"},
      {"a logout meanwhile", ServerReply(good), true, 200, "success", ""},
      {"no user id", ServerReply(R"({"code":200,"token":"t"})"), false, 200, "success", "-1"},
      {"token not text", ServerReply(R"({"code":200,"token":5,"userId":5})"), false, -501, unreadable, ""},
      {"user id too big", ServerReply(R"({"code":200,"token":"t","userId":1e30})"), false, -501, unreadable, ""},
      {"not json", ServerReply("<html>"), false, -501, unreadable, ""},
      {"refused", ServerReply(R"({"code":3001,"msg":"banned"})", 3001, "banned"), false, 3001, "banned", ""},
      {"no reply", NoReply(), false, -502, "Http Code:, Msg:connection failed", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UnitRig rig;
    ZarnSdk::EventDelivery delivery{rig.store, rig.api, sion::DefaultThreadLauncher(), {}};
    ZarnSdk::CZarnTrack track{rig.session, delivery};
    ZarnSdk::CZarnUser user{rig.api, rig.session, track};
    GameReplies game;
    user.Login("7656", "ab", rig.session.LoginGeneration(), game.Callback());
    // The call's table entry alone makes it; signed: "10001" "key" "1" "STEAM" "ab".
    EXPECT_EQ(rig.poster.Request(0).url, "https://unit.invalid/sdkapi/v22/init.do");
    EXPECT_EQ(rig.poster.Request(0).body,
              R"(appId=10001&os=&sdkVer=&sdkType=&clientId=&runPlatform=&gamePlatform=&platform=STEAM&bindType=1)"
              R"(&puserId=7656&accessToken=ab&extra={"merId":"480"}&osign=4f47b1ee6e3a8ffe56e3eca7969a694d)");
    if (c.logoutMeanwhile) rig.session.Logout();
    rig.poster.Answer(0, c.reply);
    const auto all = game.All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].code, c.code);
    EXPECT_EQ(all[0].msg, c.msg);
    EXPECT_EQ(rig.session.IsLoggedIn(), !c.userId.empty());
    EXPECT_EQ(rig.session.Player().userId, c.userId.empty() ? "-1" : c.userId);
  }
}

}  // namespace
}  // namespace zarntest
