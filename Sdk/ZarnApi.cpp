#include "Sdk/ZarnApi.h"

#include <openssl/evp.h>

#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "Sdk/Encoding.h"
#include "transport/TlsClientContext.h"

namespace ZarnSdk {
namespace {

// One form parameter as sent. Keys are literals of this file; values are raw UTF-8.
struct FormParam {
  std::string_view key;
  std::string value;
};

using FormParams = std::vector<FormParam>;

constexpr bool kRepeatable = true;
constexpr bool kNotRepeatable = false;

constexpr const char* kUnknown = "_unknown";
constexpr const char* kChannelSteam = "STEAM";

// The bytes that would change the meaning of an x-www-form-urlencoded body ("%" so that an
// escape in a value is not decoded, "+" so that it is not read as a space). Every other byte,
// spaces and non-ASCII included, goes out unchanged: the server reads those raw.
std::string EncodeFormValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '%' || c == '&' || c == '=' || c == '+') {
      static constexpr char kUpperHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kUpperHex[byte >> 4];
      out += kUpperHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string JoinForm(const FormParams& params) {
  std::string out;
  for (const FormParam& p : params) {
    if (!out.empty()) out += '&';
    out.append(p.key);
    out += '=';
    out += EncodeFormValue(p.value);
  }
  return out;
}

// 32 lower-case hex digits; empty only when the MD5 implementation is unavailable (the server
// then refuses the request like any other bad signature).
std::string Md5Hex(std::string_view bytes) {
  sion::EnsureOpenSslInitialised();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
  return HexLower(std::string_view(reinterpret_cast<const char*>(digest), length));
}

// {"merId":"<steamAppId>"}
std::string MerchantExtra(const GlobalParams& g) { return CompactJson({{"merId", g.steamAppId}}); }

// A whole signed body: the common prefix, then `specific` in order, then "osign". `signedKeys`
// lists the parameters whose raw values are concatenated, in that order, for the signature;
// the app key is signed by every request but sent by only one, so it comes from GlobalParams
// when the body does not carry it.
std::string SignedBody(const GlobalParams& g, const FormParams& specific,
                       std::initializer_list<std::string_view> signedKeys) {
  FormParams params{{"appId", g.appId},       {"os", g.os},
                    {"sdkVer", g.sdkVer},     {"sdkType", g.sdkType},
                    {"clientId", g.clientId}, {"runPlatform", g.runPlatform},
                    {"gamePlatform", g.gamePlatform}};
  params.insert(params.end(), specific.begin(), specific.end());

  std::string signText;
  for (const std::string_view key : signedKeys) {
    const FormParam* found = nullptr;
    for (const FormParam& p : params) {
      if (p.key == key) {
        found = &p;
        break;
      }
    }
    if (found != nullptr) {
      signText += found->value;
    } else if (key == "appKey") {
      signText += g.appKey;
    }
  }
  return JoinForm(params) + "&osign=" + Md5Hex(signText);
}

}  // namespace

ApiEndpoints ApiEndpoints::FromOrigin(const std::string& origin) {
  std::string base = origin;
  // A trailing slash in a configured origin would otherwise double the path separator.
  while (!base.empty() && base.back() == '/') base.pop_back();
  ApiEndpoints e;
  e.sdkApiBase = base + "/sdkapi";
  e.initUrl = e.sdkApiBase + "/v22/init.do";
  e.clientConfigUrl = e.sdkApiBase + "/v3/config/client.do";
  e.attributionUrl = e.sdkApiBase + "/v1/attribution.do";
  e.productsUrl = e.sdkApiBase + "/v10/pay/products.do";
  e.createOrderUrl = e.sdkApiBase + "/v10/pay/create_order.do";
  e.payResultUrl = e.sdkApiBase + "/v10/pay/pay_result.do";
  e.trackDataUrl = base + "/data/h5/v1.do";
  return e;
}

void ZarnApi::PostForm(const std::string& url, std::string body, HttpCallback handler, bool repeatable,
                       std::optional<std::chrono::steady_clock::time_point> notBefore) {
  OutgoingRequest request{url, std::move(body), {}, sion::Lane::Game, notBefore, repeatable};
  request.header.Add("content-type", "application/x-www-form-urlencoded");
  poster_.Post(std::move(request), std::move(handler));
}

void ZarnApi::PostClientConfig(HttpCallback handler) {
  const GlobalParams g = session_.Global();
  PostForm(endpoints_.clientConfigUrl,
           SignedBody(g, {}, {"appId", "appKey", "clientId", "os", "sdkVer", "sdkType", "runPlatform"}),
           std::move(handler), kRepeatable);
}

void ZarnApi::PostAttribution(HttpCallback handler) {
  const GlobalParams g = session_.Global();
  PostForm(endpoints_.attributionUrl,
           SignedBody(g,
                      {{"osVer", kUnknown},
                       {"urlParams", ""},
                       {"channelId", kUnknown},
                       {"subChannelId", kUnknown},
                       {"lp", kUnknown},
                       {"userId", "-1"},
                       {"browser", kUnknown},
                       {"browserVersion", kUnknown},
                       {"language", kUnknown}},
                      {"appId", "appKey", "sdkVer", "sdkType", "os", "osVer", "clientId", "runPlatform",
                       "gamePlatform", "channelId", "subChannelId", "lp", "userId", "browser", "browserVersion",
                       "language"}),
           std::move(handler), kNotRepeatable);
}

void ZarnApi::PostLogin(const std::string& puserId, const std::string& accessToken, HttpCallback handler) {
  const GlobalParams g = session_.Global();
  PostForm(endpoints_.initUrl,
           SignedBody(g,
                      {{"platform", kChannelSteam},
                       {"bindType", "1"},
                       {"puserId", puserId},
                       {"accessToken", accessToken},
                       {"extra", MerchantExtra(g)}},
                      {"appId", "appKey", "bindType", "sdkVer", "sdkType", "clientId", "runPlatform",
                       "gamePlatform", "platform", "accessToken"}),
           std::move(handler), kRepeatable);
}

void ZarnApi::PostProducts(HttpCallback handler) {
  const GlobalParams g = session_.Global();
  PostForm(endpoints_.productsUrl,
           SignedBody(g, {{"page", "1"}, {"pageSize", "999"}, {"extra", MerchantExtra(g)}},
                      {"sdkVer", "sdkType", "clientId", "appId", "os", "runPlatform", "gamePlatform", "extra",
                       "page", "pageSize", "appKey"}),
           std::move(handler), kRepeatable);
}

void ZarnApi::PostCreateOrder(const CreateOrderParams& p, HttpCallback handler) {
  const GlobalParams g = session_.Global();
  PostForm(endpoints_.createOrderUrl,
           SignedBody(g,
                      {{"appKey", g.appKey},
                       {"channel", kChannelSteam},
                       {"productId", p.productId},
                       {"orderAmountMicros", p.orderAmountMicros},
                       {"currencyCode", p.currencyCode},
                       {"extInfo", p.extInfo},
                       {"collectionInfo", p.collectionInfo},
                       {"userId", p.userId},
                       {"serverId", p.serverId},
                       {"gameUserId", p.gameUserId},
                       {"nickName", p.nickName},
                       {"sdkExtInfo", MerchantExtra(g)}},
                      {"appId", "appKey", "channel", "clientId", "currencyCode", "extInfo", "orderAmountMicros",
                       "productId", "sdkVer", "sdkType", "os", "runPlatform", "gamePlatform", "serverId",
                       "gameUserId", "nickName", "userId", "collectionInfo", "sdkExtInfo"}),
           std::move(handler), kNotRepeatable);
}

void ZarnApi::PostPayResult(const PayResultParams& p, HttpCallback handler,
                            std::optional<std::chrono::steady_clock::time_point> notBefore) {
  const GlobalParams g = session_.Global();
  PostForm(endpoints_.payResultUrl,
           SignedBody(g,
                      {{"channel", kChannelSteam},
                       {"userId", p.userId},
                       {"serverId", p.serverId},
                       {"gameUserId", p.gameUserId},
                       {"orderId", p.orderId},
                       {"extVerifyInfo", p.extVerifyInfo},
                       {"status", p.status},
                       {"payAmountMicros", p.payAmountMicros},
                       {"channelPayType", p.channelPayType},
                       {"channelProductId", p.channelProductId},
                       {"trxId", p.trxId},
                       {"trxToken", p.trxToken}},
                      {"appId", "appKey", "channel", "channelPayType", "clientId", "orderId", "extVerifyInfo",
                       "payAmountMicros", "sdkVer", "sdkType", "os", "runPlatform", "gamePlatform", "serverId",
                       "gameUserId", "status", "trxId", "trxToken", "userId", "channelProductId"}),
           std::move(handler), kRepeatable, notBefore);
}

void ZarnApi::PostTrackData(std::string body, HttpCallback handler) {
  OutgoingRequest request{endpoints_.trackDataUrl, std::move(body), {}, sion::Lane::Background, std::nullopt,
                          kRepeatable};
  request.header.Add("Content-Type", "text/plain;charset=UTF-8");
  poster_.Post(std::move(request), std::move(handler));
}

}  // namespace ZarnSdk
