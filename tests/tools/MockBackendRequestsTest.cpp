// The mock backend's checks of the SDK's requests: every kind passes when right, and each kind
// of fault is refused with a reason that names it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "MockRequestBodies.h"
#include "tools/mock_backend/MockBackend.h"

using nlohmann::json;
using namespace mocktest;
namespace paths = zarnmock::paths;

namespace {

zarnmock::MockOptions Plain() {
  zarnmock::MockOptions options;
  options.plainHttp = true;
  return options;
}

// Posts and returns the parsed reply envelope; fails the test on a transport error.
json PostJson(httplib::Client& client, const std::string& path, const std::string& body,
              const char* contentType = kForm) {
  auto result = client.Post(path, body, contentType);
  EXPECT_TRUE(result) << path;
  if (!result) return json();
  EXPECT_EQ(result->status, 200) << path;
  return json::parse(result->body, nullptr, false);
}

std::string Refusal(httplib::Client& client, const std::string& path, const std::string& body,
                    const char* contentType = kForm) {
  const json reply = PostJson(client, path, body, contentType);
  EXPECT_EQ(reply.value("code", 0), 1002) << body;
  const std::string msg = reply.value("msg", "");
  const std::string prefix = "sign error: ";
  EXPECT_EQ(msg.rfind(prefix, 0), 0u) << msg;
  return msg.substr(std::min(prefix.size(), msg.size()));
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

}  // namespace

TEST(MockBackendRequests, EveryRequestKindPassesAndGetsItsEnvelope) {
  zarnmock::MockBackend backend(Plain());
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());

  EXPECT_EQ(PostJson(client, paths::kClientConfig, kClientConfigBody),
            json::parse(R"({"code":200,"msg":"success","isTestDevice":0})"));
  EXPECT_EQ(PostJson(client, paths::kAttribution, kAttributionBody), json::parse(R"({"code":200,"msg":"success"})"));

  const json login = PostJson(client, paths::kLogin, kLoginBody);
  EXPECT_EQ(login["code"], 200);
  EXPECT_TRUE(login["token"].is_string() && !login["token"].get<std::string>().empty());
  EXPECT_TRUE(login["userId"].is_number_integer());

  const json products = PostJson(client, paths::kProducts, kProductsBody);
  ASSERT_EQ(products["code"], 200);
  ASSERT_TRUE(products["productList"].is_array());
  bool lowerCaseOnly = false;
  bool twoChannels = false;
  for (const auto& product : products["productList"]) {
    for (const char* member : {"productId", "productName", "productDesc", "productCurrencyCode"}) {
      EXPECT_TRUE(product[member].is_string()) << member;
    }
    EXPECT_TRUE(product["gameCurrencyAmount"].is_number_integer());
    const auto& channels = product["payChannel"];
    lowerCaseOnly |= channels.size() == 1 && channels[0]["name"] == "steam";
    twoChannels |= channels.size() == 2;
  }
  EXPECT_TRUE(lowerCaseOnly && twoChannels);

  const json order = PostJson(client, paths::kCreateOrder, kOrderBody);
  ASSERT_EQ(order["code"], 200) << order.dump();
  EXPECT_EQ(order["productName"], "Small Gem Pack");
  EXPECT_EQ(order["defaultCurrency"], "USD");
  EXPECT_TRUE(order["defaultAmountMicro"].is_number_integer());
  EXPECT_EQ(order["virtualCoinAmount"], 60);
  const std::string steamOrderId = order["extInfo"]["steamOrderId"];
  EXPECT_GT(std::stoull(steamOrderId), 4294967296ULL);
  EXPECT_TRUE(order["extInfo"]["steamTransId"].is_string());
  const json second = PostJson(client, paths::kCreateOrder, kOrderBody);
  EXPECT_NE(second["extInfo"]["steamOrderId"], steamOrderId);
  EXPECT_NE(second["orderId"], order["orderId"]);

  EXPECT_EQ(PostJson(client, paths::kPayResult, kPayResultBody),
            json::parse(R"({"code":200,"msg":"success","status":1})"));
  EXPECT_EQ(PostJson(client, paths::kAnalytics, kAnalyticsBody, kAnalyticsType),
            json::parse(R"({"code":200,"msg":"success"})"));

  for (const auto& record : backend.Requests()) EXPECT_TRUE(record.ok) << record.path << ": " << record.reason;
  // Escaped values are decoded, raw spaces and UTF-8 are kept as sent.
  const auto orders = backend.Requests(paths::kCreateOrder);
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(orders[0].Param("extInfo"), "game&extra=1 +x%");
  EXPECT_EQ(orders[0].Param("nickName"), "Ünï 名字");
  EXPECT_EQ(orders[0].params.back().first, "osign");
  EXPECT_EQ(orders[0].Header("content-type"), kForm);
}

TEST(MockBackendRequests, FormatFaultsAreRefusedWithTheirReason) {
  zarnmock::MockBackend backend(Plain());
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());
  const std::string common = kCommon;

  EXPECT_EQ(Refusal(client, paths::kClientConfig,
                    Replace(kClientConfigBody, "appId=10086&os=Windows", "os=Windows&appId=10086")),
            "parameter order: expected appId at position 1, got os");
  EXPECT_EQ(Refusal(client, paths::kClientConfig, Replace(kClientConfigBody, "&clientId=c0ffee-client", "")),
            "missing parameter clientId");
  EXPECT_EQ(Refusal(client, paths::kClientConfig, Replace(kClientConfigBody, "&osign=", "&extra=1&osign=")),
            "unexpected parameter extra");
  EXPECT_EQ(Refusal(client, paths::kClientConfig, Replace(kClientConfigBody, "&osign=", "&os=Windows&osign=")),
            "duplicate parameter os");
  EXPECT_EQ(Refusal(client, paths::kClientConfig, common + "&osign=" + std::string(32, '0')),
            "osign mismatch: expected " + kClientConfigSign + ", got " + std::string(32, '0'));
  EXPECT_EQ(Refusal(client, paths::kClientConfig, Replace(kClientConfigBody, "a641", "A641")),
            "osign is not 32 lower-case hex digits: A64170810d2327847e6e16c83f1b3c54");
  // A second osign in the middle is caught before any signature check.
  EXPECT_EQ(Refusal(client, paths::kProducts,
                    Replace(kProductsBody, "&page=1", "&osign=83ce2e4aaebffe51b0c838ddb4fa122f&page=1")),
            "duplicate parameter osign");

  // gamePlatform is sent but not signed by the start-up request.
  EXPECT_EQ(PostJson(client, paths::kClientConfig, Replace(kClientConfigBody, "gamePlatform=steam", "gamePlatform=x"))
                .value("code", 0),
            200);
  // urlParams is not signed either, but its value is fixed.
  EXPECT_EQ(Refusal(client, paths::kAttribution, Replace(kAttributionBody, "urlParams=", "urlParams=x")),
            "urlParams must be \"\", got \"x\"");
  // puserId and extra are not signed in the login; extra must still be the merchant extra text.
  EXPECT_EQ(Refusal(client, paths::kLogin, Replace(kLoginBody, R"("480")", "480")),
            R"(extra is not the merchant extra text {"merId":"<Steam app id>"}: {"merId":480})");

  // Keys: per app, and a signature made with the wrong key fails.
  backend.SetAppKey("10086", "other-key");
  EXPECT_EQ(Refusal(client, paths::kClientConfig, kClientConfigBody),
            "osign mismatch: expected 99226eb00e842e247d70de62ae62d77a, got " + kClientConfigSign);
  EXPECT_EQ(PostJson(client, paths::kClientConfig, common + "&osign=99226eb00e842e247d70de62ae62d77a").value("code", 0),
            200);
  backend.SetAppKey("10086", "zarn-demo-key");
  // The order request also sends the key (not signed by value), which must be the app's.
  EXPECT_EQ(Refusal(client, paths::kCreateOrder, Replace(kOrderBody, "appKey=zarn-demo-key", "appKey=guess")),
            "appKey parameter is not the key of app 10086");
  backend.SetDefaultAppKey("");
  EXPECT_EQ(Refusal(client, paths::kClientConfig, Replace(kClientConfigBody, "appId=10086", "appId=7")),
            "unknown appId 7");

  EXPECT_EQ(Refusal(client, paths::kClientConfig, kClientConfigBody, "text/plain"),
            "content type must be application/x-www-form-urlencoded, got text/plain");
  auto missing = client.Post("/sdkapi/v9/none.do", kClientConfigBody, kForm);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  auto get = client.Get(paths::kClientConfig);
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);

  // Every refusal is recorded with the same reason.
  for (const auto& record : backend.Requests()) {
    if (record.ok) continue;
    EXPECT_FALSE(record.reason.empty());
    const std::string msg = json::parse(record.replyBody, nullptr, false).value("msg", "");
    EXPECT_TRUE(msg.size() >= record.reason.size() &&
                msg.compare(msg.size() - record.reason.size(), std::string::npos, record.reason) == 0)
        << msg;
  }
}

TEST(MockBackendRequests, EscapesAreDecodedExactlyAndUnescapedSpecialsRefused) {
  zarnmock::MockBackend backend(Plain());
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());

  // Lower-case hex decodes to the same bytes, so the signature still holds.
  EXPECT_EQ(PostJson(client, paths::kCreateOrder, Replace(kOrderBody, "%2Bx", "%2bx")).value("code", 0), 200);
  EXPECT_EQ(Refusal(client, paths::kCreateOrder, Replace(kOrderBody, "%2Bx", "+x")),
            "unescaped '+' in value of extInfo");
  EXPECT_EQ(Refusal(client, paths::kCreateOrder, Replace(kOrderBody, "%3D1", "=1")),
            "unescaped '=' in value of extInfo");
  EXPECT_EQ(Refusal(client, paths::kCreateOrder, Replace(kOrderBody, "%25&", "%2&")),
            "bad percent escape in value of extInfo");
  EXPECT_EQ(Refusal(client, paths::kCreateOrder, Replace(kOrderBody, "%26", "%zz")),
            "bad percent escape in value of extInfo");
  EXPECT_EQ(Refusal(client, paths::kClientConfig, kClientConfigBody + "&"), "empty parameter at position 9");
  EXPECT_EQ(Refusal(client, paths::kClientConfig, Replace(kClientConfigBody, "&os=Windows", "&os")),
            "parameter without '=': os");
}

TEST(MockBackendRequests, AnalyticsDocumentShapeIsChecked) {
  zarnmock::MockBackend backend(Plain());
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());

  const std::string withValue = Replace(kAnalyticsBody, R"("userId":-1})", R"("userId":-1,"value":0.0})");
  EXPECT_EQ(PostJson(client, paths::kAnalytics, withValue, kAnalyticsType).value("code", 0), 200);
  EXPECT_EQ(Refusal(client, paths::kAnalytics, Replace(kAnalyticsBody, R"("userId":-1})", R"("userId":-1,"value":1})"),
                    kAnalyticsType),
            "analytics member value is not a floating-point number");
  EXPECT_EQ(Refusal(client, paths::kAnalytics, Replace(kAnalyticsBody, R"("eventOrder":"n1")", R"("eventOrder":"1")"),
                    kAnalyticsType),
            "analytics eventOrder is not n<sequence number>: 1");
  EXPECT_EQ(Refusal(client, paths::kAnalytics, Replace(kAnalyticsBody, R"("sdkTime":1700000000000,)", ""),
                    kAnalyticsType),
            "analytics member sdkTime is missing");
  EXPECT_EQ(Refusal(client, paths::kAnalytics, Replace(kAnalyticsBody, R"({"appId")", R"({ "appId")"), kAnalyticsType),
            "analytics body is not compact JSON with members in name order");
  EXPECT_EQ(Refusal(client, paths::kAnalytics, kAnalyticsBody, kForm),
            "content type must be text/plain;charset=UTF-8, got application/x-www-form-urlencoded");
}
