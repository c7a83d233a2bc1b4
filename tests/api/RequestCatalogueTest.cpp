// Golden tests of the request catalogue: every body byte for byte, with the signature computed
// here from the literal concatenation the server expects.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <thread>

#include "ApiTestSupport.h"
#include "Sdk/ZarnApi.h"
#include "TestSupport.h"

using ZarnSdk::ApiEndpoints;
using ZarnSdk::CreateOrderParams;
using ZarnSdk::GlobalParams;
using ZarnSdk::PayResultParams;
using ZarnSdk::ZarnApi;
using zarntest::FixedGlobalParams;
using zarntest::TestMd5;

namespace {

const std::string kPrefix =
    "appId=1001&os=Windows&sdkVer=SteamEXE_2.0.0&sdkType=html5&clientId=c0ffee&runPlatform=html5"
    "&gamePlatform=steam";
const std::string kMerchant480 = R"({"merId":"480"})";

// The server's reading of a form body: pairs split at "&", name and value at the first "=",
// then %XX decoded.
std::vector<std::pair<std::string, std::string>> ParseForm(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string pair = body.substr(start, end - start);
    const size_t eq = pair.find('=');
    std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
    std::string decoded;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '%' && i + 2 < value.size()) {
        decoded += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        decoded += value[i];
      }
    }
    out.emplace_back(pair.substr(0, eq), decoded);
    start = end + 1;
  }
  return out;
}

std::vector<std::string> Keys(const std::vector<std::pair<std::string, std::string>>& form) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : form) keys.push_back(key);
  return keys;
}

std::string Osign(const std::string& body) { return body.substr(body.rfind("&osign=") + 7); }

}  // namespace

TEST(RequestCatalogue, Md5AndMerchantExtra) {
  EXPECT_EQ(ZarnApi::Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(ZarnApi::Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  const std::string binary("a\0b\xff\xe4\xb8\xad", 6);
  EXPECT_EQ(ZarnApi::Md5Hex(binary), TestMd5(binary));

  GlobalParams g = FixedGlobalParams();
  EXPECT_EQ(ZarnApi::MerchantExtra(g), kMerchant480);
  g.steamAppId = "";
  EXPECT_EQ(ZarnApi::MerchantExtra(g), R"({"merId":""})");
  g.steamAppId = "4294967295";
  EXPECT_EQ(ZarnApi::MerchantExtra(g), R"({"merId":"4294967295"})");

  EXPECT_EQ(ZarnApi::BuildCommonParams(FixedGlobalParams()), kPrefix);
}

TEST(RequestCatalogue, StartupAndAttributionBodies) {
  const GlobalParams g = FixedGlobalParams();
  const std::string startup = ZarnApi::ClientConfigBody(g);
  EXPECT_EQ(startup, kPrefix + "&osign=" + TestMd5("1001k3yc0ffeeWindowsSteamEXE_2.0.0html5html5"));

  // gamePlatform is sent but not signed.
  GlobalParams otherPlatform = g;
  otherPlatform.gamePlatform = "epic";
  const std::string changed = ZarnApi::ClientConfigBody(otherPlatform);
  EXPECT_NE(changed, startup);
  EXPECT_NE(changed.find("&gamePlatform=epic&"), std::string::npos);
  EXPECT_EQ(Osign(changed), Osign(startup));

  EXPECT_EQ(ZarnApi::AttributionBody(g),
            kPrefix +
                "&osVer=_unknown&urlParams=&channelId=_unknown&subChannelId=_unknown&lp=_unknown&userId=-1"
                "&browser=_unknown&browserVersion=_unknown&language=_unknown&osign=" +
                TestMd5("1001k3ySteamEXE_2.0.0html5Windows_unknownc0ffeehtml5steam_unknown_unknown_unknown-1"
                        "_unknown_unknown_unknown"));

  // Every value empty: still a full body, signed with the MD5 of the empty text.
  EXPECT_EQ(ZarnApi::ClientConfigBody(GlobalParams{}),
            "appId=&os=&sdkVer=&sdkType=&clientId=&runPlatform=&gamePlatform=&osign=d41d8cd98f00b204e9800998ecf8427e");
}

TEST(RequestCatalogue, LoginAndProductBodies) {
  const GlobalParams g = FixedGlobalParams();
  const std::string login = ZarnApi::LoginBody(g, "76561197960287930", "14000000aabb");
  EXPECT_EQ(login, kPrefix +
                       "&platform=STEAM&bindType=1&puserId=76561197960287930&accessToken=14000000aabb&extra=" +
                       kMerchant480 + "&osign=" + TestMd5("1001k3y1SteamEXE_2.0.0html5c0ffeehtml5steamSTEAM14000000aabb"));

  // os, puserId and extra are not signed; the ticket is.
  GlobalParams otherOs = g;
  otherOs.os = "Linux";
  otherOs.steamAppId = "570";
  EXPECT_EQ(Osign(ZarnApi::LoginBody(otherOs, "1", "14000000aabb")), Osign(login));
  EXPECT_NE(Osign(ZarnApi::LoginBody(g, "76561197960287930", "14000000aabc")), Osign(login));

  EXPECT_EQ(ZarnApi::ProductsBody(g),
            kPrefix + "&page=1&pageSize=999&extra=" + kMerchant480 + "&osign=" +
                TestMd5("SteamEXE_2.0.0html5c0ffee1001Windowshtml5steam" + kMerchant480 + "1999k3y"));
}

TEST(RequestCatalogue, OrderBodyEncodesOnlyMeaningfulBytesAndSignsRawValues) {
  const GlobalParams g = FixedGlobalParams();
  CreateOrderParams p;
  p.productId = "gold_100";
  p.serverId = "s1";
  p.gameUserId = "role 7";
  p.nickName = "a&userId=1 b+c%";
  p.orderAmountMicros = "990000";
  p.collectionInfo = R"({"deviceId":"c0ffee","resolution":"1920x1080"})";
  p.currencyCode = "USD";
  p.extInfo = "";

  const std::string body = ZarnApi::CreateOrderBody(g, "-1", p);
  EXPECT_EQ(body, kPrefix +
                      "&appKey=k3y&channel=STEAM&productId=gold_100&orderAmountMicros=990000&currencyCode=USD"
                      "&extInfo=&collectionInfo=" +
                      p.collectionInfo +
                      "&userId=-1&serverId=s1&gameUserId=role 7&nickName=a%26userId%3D1 b%2Bc%25&sdkExtInfo=" +
                      kMerchant480 + "&osign=" +
                      TestMd5("1001k3ySTEAMc0ffeeUSD990000gold_100SteamEXE_2.0.0html5Windowshtml5steams1role 7"
                              "a&userId=1 b+c%-1" +
                              p.collectionInfo + kMerchant480));

  // The nickname cannot add a parameter: the server sees exactly the listed names, one userId,
  // and the nickname as the player typed it.
  const auto form = ParseForm(body);
  EXPECT_EQ(Keys(form), (std::vector<std::string>{"appId", "os", "sdkVer", "sdkType", "clientId", "runPlatform",
                                                  "gamePlatform", "appKey", "channel", "productId",
                                                  "orderAmountMicros", "currencyCode", "extInfo", "collectionInfo",
                                                  "userId", "serverId", "gameUserId", "nickName", "sdkExtInfo",
                                                  "osign"}));
  EXPECT_EQ(form[14].second, "-1");
  EXPECT_EQ(form[17].second, "a&userId=1 b+c%");

  // An already-escaped looking value survives the round trip too.
  p.nickName = "100%25=%";
  const auto again = ParseForm(ZarnApi::CreateOrderBody(g, "77", p));
  EXPECT_EQ(again[17].second, "100%25=%");
  EXPECT_EQ(again[14].second, "77");
}

TEST(RequestCatalogue, PayResultBody) {
  const GlobalParams g = FixedGlobalParams();
  PayResultParams p;
  p.channelPayType = "STEAM";
  p.orderId = "ord-9";
  p.extVerifyInfo = R"({"steamOrderId":"123456789"})";
  p.payAmountMicros = "990000";
  p.serverId = "s1";
  p.gameUserId = "g=7";
  p.status = "1";
  p.trxId = "";
  p.trxToken = "t+k";
  p.channelProductId = "cp1";

  EXPECT_EQ(ZarnApi::PayResultBody(g, "42", p),
            kPrefix + "&channel=STEAM&userId=42&serverId=s1&gameUserId=g%3D7&orderId=ord-9&extVerifyInfo=" +
                p.extVerifyInfo +
                "&status=1&payAmountMicros=990000&channelPayType=STEAM&channelProductId=cp1&trxId=&trxToken=t%2Bk"
                "&osign=" +
                TestMd5("1001k3ySTEAMSTEAMc0ffeeord-9" + p.extVerifyInfo +
                        "990000SteamEXE_2.0.0html5Windowshtml5steams1g=71t+k42cp1"));

  // Before login the user id is "-1" and is signed as such.
  const std::string before = ZarnApi::PayResultBody(g, "-1", p);
  EXPECT_NE(before.find("&userId=-1&"), std::string::npos);
  EXPECT_EQ(Osign(before), TestMd5("1001k3ySTEAMSTEAMc0ffeeord-9" + p.extVerifyInfo +
                                   "990000SteamEXE_2.0.0html5Windowshtml5steams1g=71t+k-1cp1"));
}

TEST(ApiEndpoints, TableFromOrigin) {
  const ApiEndpoints e = ApiEndpoints::FromOrigin("https://api.example.test:8443/");
  EXPECT_EQ(e.sdkApiBase, "https://api.example.test:8443/sdkapi");
  EXPECT_EQ(e.initUrl, "https://api.example.test:8443/sdkapi/v22/init.do");
  EXPECT_EQ(e.clientConfigUrl, "https://api.example.test:8443/sdkapi/v3/config/client.do");
  EXPECT_EQ(e.attributionUrl, "https://api.example.test:8443/sdkapi/v1/attribution.do");
  EXPECT_EQ(e.productsUrl, "https://api.example.test:8443/sdkapi/v10/pay/products.do");
  EXPECT_EQ(e.createOrderUrl, "https://api.example.test:8443/sdkapi/v10/pay/create_order.do");
  EXPECT_EQ(e.payResultUrl, "https://api.example.test:8443/sdkapi/v10/pay/pay_result.do");
  EXPECT_EQ(e.trackDataUrl, "https://api.example.test:8443/data/h5/v1.do");
}

TEST(ApiEndpoints, CompiledOriginWithoutOverride) {
  zarntest::ScopedEnv unset("ZARN_SDK_API_ORIGIN", std::nullopt);
  EXPECT_EQ(ApiEndpoints::Instance().initUrl, std::string(ZARN_API_ORIGIN) + "/sdkapi/v22/init.do");
  EXPECT_EQ(ApiEndpoints::Instance().trackDataUrl, std::string(ZARN_API_ORIGIN) + "/data/h5/v1.do");
}

TEST(ApiEndpoints, EnvironmentOverrideIsReadOnceByTheFirstOfManyThreads) {
  std::optional<zarntest::ScopedEnv> env(std::in_place, "ZARN_SDK_API_ORIGIN", "http://127.0.0.1:9");
  std::vector<const ApiEndpoints*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &ApiEndpoints::Instance(); });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(std::set<const ApiEndpoints*>(seen.begin(), seen.end()).size(), 1u);
  EXPECT_EQ(seen[0]->payResultUrl, "http://127.0.0.1:9/sdkapi/v10/pay/pay_result.do");
  EXPECT_EQ(seen[0]->trackDataUrl, "http://127.0.0.1:9/data/h5/v1.do");

  env.emplace("ZARN_SDK_API_ORIGIN", "http://127.0.0.1:10");
  EXPECT_EQ(ApiEndpoints::Instance().sdkApiBase, "http://127.0.0.1:9/sdkapi");
}
