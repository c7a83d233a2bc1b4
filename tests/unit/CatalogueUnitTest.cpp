// The product catalogue over a fake poster: one load shared by every query that waits for it,
// its failure told to each of them, and the entries payments look up.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Sdk/ProductCatalogue.h"
#include "UnitRig.h"

namespace zarntest {
namespace {

struct CatalogueRig : UnitRig {
  ZarnSdk::ProductCatalogue catalogue{api};
};

TEST(Catalogue, QueriesDuringALoadShareItsRequestAndEachHearsItsOutcome) {
  const std::string list =
      R"({"code":200,"msg":"Success","productList":[{"gameCurrencyAmount":5,"productDesc":"","productId":"gem",)"
      R"("productName":"Gem"}]})";
  struct Case { std::string name; ZarnSdk::HttpResp reply; int32_t code; std::string msgPrefix, data; bool loaded; };
  std::vector<Case> cases = {
      {"loaded", ServerReply(kGemList), 200, "Success", list, true},
      {"no reply", NoReply(), -502, "Http Code:, Msg:connection failed", "", false},
      {"refused", ServerReply(R"({"code":3001,"msg":"no"})", 3001, "no"), 3001, "no", R"({"code":3001,"msg":"no"})",
       false},
      {"unreadable", ServerReply("<html>"), -501, "Server JSON Parse Error.", "", false},
  };
  // A list that does not read enters nothing, not even the good product before the bad one.
  for (const char* bad : {R"({"productId":17,"payChannel":[{"name":"STEAM"}]})",
                          R"({"productId":"p.x","payChannel":["STEAM"]})",
                          R"({"productId":"p.x","payChannel":{"name":"STEAM"}})", R"("p.x")",
                          R"({"productId":"p.x","gameCurrencyAmount":"6","payChannel":[{"name":"STEAM"}]})",
                          R"({"productId":"p.x","gameCurrencyAmount":4294967296,"payChannel":[{"name":"STEAM"}]})",
                          R"({"productId":"p.x","payChannel":[{"name":"STEAM","channelProductId":5}]})"}) {
    cases.push_back({bad, ServerReply(R"({"code":200,"productList":[{"productId":"gem","payChannel":)"
                                      R"([{"name":"STEAM","channelProductId":"c1"}]},)" + std::string(bad) + "]}"),
                     -501, "Server JSON Parse Error.", "", false});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CatalogueRig rig;
    GameReplies first, second;
    int done = 0, failed = 0;
    rig.catalogue.QueryProducts(first.Callback());
    rig.catalogue.Load([&done] { ++done; }, [&failed](const ZarnSdk::HttpResp&) { ++failed; });
    rig.catalogue.QueryProducts(second.Callback());
    ASSERT_EQ(rig.poster.Count(), 1u);
    EXPECT_TRUE(rig.poster.Request(0).repeatable);
    rig.poster.Answer(0, c.reply);
    for (GameReplies* game : {&first, &second}) {
      const auto all = game->All();
      ASSERT_EQ(all.size(), 1u);
      EXPECT_EQ(all[0].code, c.code);
      EXPECT_EQ(all[0].msg.rfind(c.msgPrefix, 0), 0u) << all[0].msg;
      EXPECT_EQ(all[0].data, c.data);
    }
    EXPECT_EQ(done + failed, 1);
    EXPECT_EQ(done, c.loaded ? 1 : 0);
    EXPECT_EQ(rig.catalogue.Loaded(), c.loaded);
    EXPECT_EQ(rig.catalogue.Find("gem").has_value(), c.loaded);
    // Loaded, a query is answered at once on its thread; failed, the next one loads again.
    GameReplies later;
    rig.catalogue.QueryProducts(later.Callback());
    EXPECT_EQ(rig.poster.Count(), c.loaded ? 1u : 2u);
    EXPECT_EQ(later.Count(), c.loaded ? 1u : 0u);
  }
}

TEST(Catalogue, FindsTheSteamEntryOfExactlyThatId) {
  CatalogueRig rig;
  rig.catalogue.Load(nullptr, nullptr);
  rig.poster.Answer(0, ServerReply(R"({"code":200,"productList":[)"
                                   R"({"productId":"gem","payChannel":[{"name":"STEAM","channelProductId":"old"}]},)"
                                   R"(null,{"productId":"gem","payChannel":[{"name":"WEB"},)"
                                   R"({"name":"STEAM","channelProductId":"new"}]},)"
                                   R"({"productId":"Gem","payChannel":[{"name":"STEAM","channelProductId":"upper"}]},)"
                                   R"({"productId":"web_only","payChannel":[{"name":"steam","channelProductId":"w"}]}]})"));
  const struct { std::string id; std::optional<std::string> channelProductId; } cases[] = {
      {"gem", "new"}, {"Gem", "upper"}, {"GEM", std::nullopt}, {"gem ", std::nullopt},
      {"web_only", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto found = rig.catalogue.Find(c.id);
    EXPECT_EQ(found ? std::optional<std::string>(found->channelProductId) : std::nullopt, c.channelProductId) << c.id;
  }
}

}  // namespace
}  // namespace zarntest
