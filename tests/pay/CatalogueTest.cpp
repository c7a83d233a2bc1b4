// The product catalogue as the game sees it: which products are kept, the answer's exact shape,
// answers from memory once loaded, and replies that must change nothing.
#include <gtest/gtest.h>

#include <thread>

#include "PayFixture.h"
#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnPay.h"

using namespace std::chrono_literals;
using ZarnSdk::CZarnCore;
using ZarnSdk::CZarnPay;
using zarntest::CallbackSlot;
using zarntest::Narrow;
using zarntest::PayTest;

namespace {

// "开始解析商品列表" in GBK: the product list is being parsed.
constexpr char kParsingLine[] = "\xBF\xAA\xCA\xBC\xBD\xE2\xCE\xF6\xC9\xCC\xC6\xB7\xC1\xD0\xB1\xED";

nlohmann::json Product(int amount, const std::string& desc, const std::string& id, const std::string& name) {
  return nlohmann::json{{"gameCurrencyAmount", amount}, {"productDesc", desc}, {"productId", id}, {"productName", name}};
}

}  // namespace

TEST_F(PayTest, CatalogueKeepsSteamProductsOnlyAndAnswersFromMemoryOnceLoaded) {
  mock().SetCatalogueJson(R"([
    {"productId":"p.dup","productName":"Old","productDesc":"old","productCurrencyCode":"USD",
     "gameCurrencyAmount":1,"payChannel":[{"name":"STEAM","channelProductId":"c.old"}]},
    {"productId":"p.lower","productName":"Lower","gameCurrencyAmount":5,
     "payChannel":[{"name":"steam","channelProductId":"c.lower"}]},
    {"productId":"p.google","payChannel":[{"name":"GOOGLE","channelProductId":"g"}]},
    {"productId":"p.nochannel"},
    {"productId":"p.two","productName":"Two","productDesc":"d2","gameCurrencyAmount":20,
     "payChannel":[{"name":"GOOGLE","channelProductId":"g2"},{"name":"STEAM","channelProductId":"c.two"}]},
    {"productId":"p.dup","productName":"New \u65b0","productDesc":"new","gameCurrencyAmount":2,
     "payChannel":[{"name":"STEAM","channelProductId":"c.new"}]},
    null,
    {"productId":"p.sparse","productName":null,"payChannel":[null,{"name":7},{"name":"STEAM"}]}
  ])");
  ASSERT_NO_FATAL_FAILURE(StartSdk());

  const zarntest::CallbackRecord first = QueryCatalogue();
  ASSERT_EQ(first.code, 200) << Narrow(first.msg);
  EXPECT_EQ(first.msg, L"Success");
  const std::string text = Narrow(first.data);
  EXPECT_EQ(text.rfind(R"({"code":200,"msg":"Success","productList":[{"gameCurrencyAmount":)", 0), 0u) << text;
  EXPECT_EQ(text, nlohmann::json::parse(text).dump()) << "compact, members in ascending order";

  const auto products = zarntest::ProductsById(first.data);
  ASSERT_EQ(products.size(), 3u) << text;
  EXPECT_EQ(products.at("p.dup"), Product(2, "new", "p.dup", "New \xE6\x96\xB0")) << "the later duplicate wins";
  EXPECT_EQ(products.at("p.two"), Product(20, "d2", "p.two", "Two"));
  EXPECT_EQ(products.at("p.sparse"), Product(0, "", "p.sparse", ""));
  EXPECT_TRUE(CZarnCore::Instance().productsLoaded);
  EXPECT_FALSE(zarntest::LogLines::StartingWith(kParsingLine).empty());

  // Loaded: answered from memory on the caller's thread before the call returns.
  const size_t requests = mock().RequestCount(zarnmock::paths::kProducts);
  CZarnPay::Instance().QueryProducts(CallbackSlot<3>::fn);
  ASSERT_EQ(CallbackSlot<3>::log().Count(), 1u);
  const auto again = CallbackSlot<3>::log().Records().front();
  EXPECT_EQ(again.thread, std::this_thread::get_id());
  EXPECT_EQ(again.code, 200);
  EXPECT_EQ(again.data, first.data);
  EXPECT_EQ(mock().RequestCount(zarnmock::paths::kProducts), requests);

  // A null callback is simply not called.
  CZarnPay::Instance().QueryProducts(nullptr);
}

TEST_F(PayTest, EmptyProductListGivesOnlyCodeAndMessage) {
  mock().SetCatalogueJson("[]");
  ASSERT_NO_FATAL_FAILURE(StartSdk());
  const auto result = QueryCatalogue();
  EXPECT_EQ(result.code, 200);
  EXPECT_EQ(Narrow(result.data), R"({"code":200,"msg":"Success"})");
  EXPECT_TRUE(CZarnCore::Instance().productsLoaded);
}

TEST_F(PayTest, AbsentProductListGivesOnlyCodeAndMessage) {
  mock().Script(zarnmock::paths::kProducts, zarntest::ScriptBody(R"({"code":200,"msg":"success"})"));
  ASSERT_NO_FATAL_FAILURE(StartSdk());
  const auto result = QueryCatalogue();
  EXPECT_EQ(result.code, 200);
  EXPECT_EQ(Narrow(result.data), R"({"code":200,"msg":"Success"})");
  EXPECT_TRUE(CZarnCore::Instance().productsLoaded);
}

TEST_F(PayTest, MalformedProductReplyChangesNothingAndReportsParseError) {
  // Each body starts with a well-formed product, which must not be entered either.
  const std::string good = R"({"productId":"p.first","payChannel":[{"name":"STEAM","channelProductId":"c1"}]})";
  const std::vector<std::string> lists = {
      "[" + good + R"(,{"productId":17,"payChannel":[{"name":"STEAM"}]}])",
      "[" + good + R"(,"not a product"])",
      "[" + good + R"(,{"productId":"p.x","payChannel":{"name":"STEAM"}}])",
      "[" + good + R"(,{"productId":"p.x","payChannel":[["STEAM"]]}])",
      "[" + good + R"(,{"productId":"p.x","gameCurrencyAmount":"60","payChannel":[{"name":"STEAM"}]}])",
      "[" + good + R"(,{"productId":"p.x","gameCurrencyAmount":4294967296,"payChannel":[{"name":"STEAM"}]}])",
      "[" + good + R"(,{"productId":"p.x","payChannel":[{"name":"STEAM","channelProductId":5}]}])",
      "{\"a\":" + good + "}",
      "\"" + std::string("p.first") + "\"",
  };
  auto scriptList = [&](const std::string& list) {
    mock().Script(zarnmock::paths::kProducts,
                  zarntest::ScriptBody(R"({"code":200,"msg":"success","productList":)" + list + "}"));
  };
  scriptList(lists.front());
  ASSERT_NO_FATAL_FAILURE(StartSdk());
  ASSERT_NO_FATAL_FAILURE(LogIn());

  for (const auto& list : lists) {
    scriptList(list);
    const auto result = QueryCatalogue();
    EXPECT_EQ(result.code, -501) << list;
    EXPECT_EQ(Narrow(result.msg).rfind("[json.exception.", 0), 0u) << list << " -> " << Narrow(result.msg);
    EXPECT_TRUE(result.data.empty()) << list;
    EXPECT_FALSE(CZarnCore::Instance().productsLoaded) << list;
  }

  // A purchase waits for the load it needs; a malformed catalogue fails it instead of losing it.
  CZarnCore::Instance().CallPay("p.first", "", CallbackSlot<4>::fn);
  ASSERT_TRUE(CallbackSlot<4>::log().WaitFor(1));
  const auto failed = CallbackSlot<4>::log().Records().front();
  EXPECT_EQ(failed.code, -501);
  EXPECT_EQ(Narrow(failed.msg).rfind("Query Product Failure, [json.exception.", 0), 0u) << Narrow(failed.msg);
  EXPECT_EQ(mock().RequestCount(zarnmock::paths::kCreateOrder), 0u);

  // The next good reply is the whole table: nothing of the malformed ones was kept.
  mock().ClearScript(zarnmock::paths::kProducts);
  mock().SetCatalogueJson(R"([{"productId":"p.second","payChannel":[{"name":"STEAM","channelProductId":"c2"}]}])");
  CZarnCore::Instance().CallPay("p.first", "", CallbackSlot<4>::fn);
  ASSERT_TRUE(CallbackSlot<4>::log().WaitFor(2));
  const auto missing = CallbackSlot<4>::log().Records().back();
  EXPECT_EQ(missing.code, -400);
  EXPECT_EQ(missing.msg, L"Not Found Product.");
  EXPECT_NE(missing.thread, std::this_thread::get_id()) << "answered after the load, on a worker";
  const auto products = zarntest::ProductsById(QueryCatalogue().data);
  ASSERT_EQ(products.size(), 1u);
  EXPECT_EQ(products.count("p.second"), 1u);
}
