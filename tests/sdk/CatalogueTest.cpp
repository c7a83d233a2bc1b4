// The product catalogue as the game sees it: which products enter, the exact answer, one load
// shared by everyone who asks while it is under way, and failed loads that leave nothing behind.
#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SdkRig.h"

namespace zarntest {
namespace {

namespace paths = zarnmock::paths;
using nlohmann::json;
using namespace std::chrono_literals;

json Product(int amount, const std::string& desc, const std::string& id, const std::string& name) {
  return json{{"gameCurrencyAmount", amount}, {"productDesc", desc}, {"productId", id}, {"productName", name}};
}

// The answer with its product list in id order: the list's order is the table's own.
json Normalised(const std::string& data) {
  json doc = json::parse(data);
  if (doc.contains("productList")) {
    std::sort(doc["productList"].begin(), doc["productList"].end(),
              [](const json& a, const json& b) { return a["productId"] < b["productId"]; });
  }
  return doc;
}

// A whole answer, its products in id order (an empty table has no list).
json Answer(const json& products = nullptr) {
  json doc = {{"code", 200}, {"msg", "Success"}};
  if (!products.is_null()) doc["productList"] = products;
  return doc;
}

// The built-in mock catalogue's STEAM products ("starter_bundle" is listed as "steam", which
// is not the STEAM channel; "monthly_pass" is sold elsewhere).
json BuiltinAnswer() {
  const char* vipName = "VIP \xE5\x8D\x87\xE7\xBA\xA7 \xE2\x80\x93 Gold";
  const char* vipDesc = "\xE6\xB0\xB8\xE4\xB9\x85 VIP, \xC3\xBCn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9 & symbols = fine";
  return Answer({Product(680, "680 gems, 10% bonus", "gem_pack_large", "Large Gem Pack"),
                 Product(60, "60 gems", "gem_pack_small", "Small Gem Pack"),
                 Product(1, vipDesc, "vip_upgrade", vipName)});
}

TEST(Catalogue, KeepsExactlyTheSteamProductsAndIsLoadedOnce) {
  // The mock's product list, or a whole products reply of its own.
  struct Case { const char* name; std::optional<std::string> catalogue, body; json expected; };
  const Case cases[] = {
      {"built-in", std::nullopt, std::nullopt, BuiltinAnswer()},
      {"empty list", "[]", std::nullopt, Answer()},
      {"no list", std::nullopt, R"({"code":200,"msg":"success"})", Answer()},
      {"channels and duplicates", R"([
        {"productId":"p.dup","productName":"Old","productDesc":"old","productCurrencyCode":"USD",
         "gameCurrencyAmount":1,"payChannel":[{"name":"STEAM","channelProductId":"c.old"}]},
        {"productId":"p.case","payChannel":[{"name":"steam"},{"name":"Steam"},{"name":"STEAM "}]},
        {"productId":"p.google","payChannel":[{"name":"GOOGLE","channelProductId":"g"}]},
        {"productId":"p.none"},
        null,
        {"productId":"p.two","productName":"Two","productDesc":"d2","gameCurrencyAmount":20,
         "payChannel":[{"name":"GOOGLE","channelProductId":"g2"},{"name":"STEAM","channelProductId":"c.two"}]},
        {"productId":"p.dup","productName":"New \u65b0","productDesc":"new","gameCurrencyAmount":2,
         "payChannel":[{"name":"STEAM","channelProductId":"c.new"}]},
        {"productId":"p.sparse","productName":null,"payChannel":[null,{"name":7},{"name":"STEAM"}]}])",
       std::nullopt,
       Answer({Product(2, "new", "p.dup", "New \xE6\x96\xB0"), Product(0, "", "p.sparse", ""),
               Product(20, "d2", "p.two", "Two")})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdkRig rig;
    if (c.catalogue) rig.mock().SetCatalogueJson(*c.catalogue);
    if (c.body) rig.mock().Script(paths::kProducts, {.body = c.body});
    ASSERT_NO_FATAL_FAILURE(rig.Start());  // loads the catalogue in the background
    const CallbackRecord first = rig.QueryCatalogue();
    ASSERT_EQ(first.code, 200) << first.msg;
    EXPECT_EQ(first.msg, "Success");
    EXPECT_EQ(Normalised(first.data), c.expected);
    EXPECT_EQ(first.data, json::parse(first.data).dump()) << "compact, members in ascending order";

    // Loaded: answered from memory on the asking thread before the query returns.
    CallbackSlot<1>::log().Clear();
    rig.sdk().Pay().QueryProducts(CallbackSlot<1>::utf8);
    rig.sdk().Pay().QueryProducts(ZarnSdk::GameCallback());
    const auto again = CallbackSlot<1>::log().Records();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].thread, std::this_thread::get_id());
    EXPECT_EQ(again[0].data, first.data);
    EXPECT_EQ(rig.mock().RequestCount(paths::kProducts), 1u);
  }
}

TEST(Catalogue, FailedLoadReachesEveryWaiterUnchangedAndLeavesNothingBehind) {
  const std::string refusal = R"({"code":3005,"msg":"maintenance","retryAfter":60})";
  // The script answers every products request until it is cleared.
  struct Case { std::string name; zarnmock::ReplyScript script; int code; std::string msgPrefix, data; };
  Case cases[] = {
      {"http failure", {.body = {}, .failuresBeforeSuccess = 1000}, -502, "Http Code:500, Msg:", ""},
      {"server refusal", {.body = refusal}, 3005, "maintenance", refusal},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (CallbackLog* log : {&CallbackSlot<1>::log(), &CallbackSlot<2>::log(), &CallbackSlot<3>::log()}) log->Clear();
    SdkRig rig;
    c.script.delay = 300ms;  // late, so that the query below meets the start-up's load under way
    rig.mock().Script(paths::kProducts, c.script);
    ASSERT_NO_FATAL_FAILURE(rig.Start());
    // Each hears the failure of a load: the query the start-up's, the purchase its own.
    rig.sdk().Pay().QueryProducts(CallbackSlot<1>::utf8);
    CallbackSlot<1>::log().WaitFor(1);
    EXPECT_EQ(rig.mock().RequestCount(paths::kProducts), 1u) << "the start-up load was not shared";
    ASSERT_NO_FATAL_FAILURE(rig.LogIn());
    rig.core().CallPay("gem_pack_small", "a", CallbackSlot<2>::utf8);
    for (auto [log, prefix] : {std::pair{&CallbackSlot<1>::log(), std::string()},
                               std::pair{&CallbackSlot<2>::log(), std::string("Query Product Failure, ")}}) {
      const CallbackRecord r = log->Single();
      EXPECT_EQ(r.code, c.code);
      EXPECT_TRUE(r.msg.starts_with(prefix + c.msgPrefix)) << r.msg;
      EXPECT_EQ(r.data, c.data);
      EXPECT_NE(r.thread, std::this_thread::get_id());
    }
    // Not loaded: the next purchase has the catalogue loaded again first, then orders; a query
    // meanwhile shares that load.
    const size_t sent = rig.mock().RequestCount(paths::kProducts);
    rig.mock().ClearScript(paths::kProducts);
    rig.core().CallPay("gem_pack_small", "b", CallbackSlot<3>::utf8);
    CallbackSlot<1>::log().Clear();
    rig.sdk().Pay().QueryProducts(CallbackSlot<1>::utf8);
    EXPECT_EQ(Normalised(CallbackSlot<1>::log().Single().data), BuiltinAnswer());
    SdkRig::WaitForSavedOrder(1);
    EXPECT_EQ(CallbackSlot<3>::log().Count(), 0u) << "a created order is answered by its payment result only";
    const auto products = rig.mock().Requests(paths::kProducts);
    const auto orders = rig.mock().Requests(paths::kCreateOrder);
    ASSERT_EQ(products.size(), sent + 1);
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_GT(orders[0].sequence, products.back().sequence);
  }
}

}  // namespace
}  // namespace zarntest
