#include "Sdk/ZarnApi.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <initializer_list>
#include <nlohmann/json.hpp>

#include "Sdk/CZarnHttp.h"

namespace ZarnSdk {
namespace {

// One form parameter as sent. Keys are literals of this file; values are raw UTF-8.
struct FormParam {
  std::string_view key;
  std::string value;
};

using FormParams = std::vector<FormParam>;

// The bytes that would change the meaning of an x-www-form-urlencoded body ("%" so that an
// escape in a value is not decoded, "+" so that it is not read as a space). Every other byte,
// spaces and non-ASCII included, goes out unchanged: the server reads those raw.
std::string EncodeFormValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '%' || c == '&' || c == '=' || c == '+') {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
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

FormParams CommonParams(const GlobalParams& g) {
  return {{"appId", g.appId},       {"os", g.os},
          {"sdkVer", g.sdkVer},     {"sdkType", g.sdkType},
          {"clientId", g.clientId}, {"runPlatform", g.runPlatform},
          {"gamePlatform", g.gamePlatform}};
}

// Builds a whole signed body: the common prefix, then `specific` in order, then "osign".
// `signedKeys` lists the parameters whose raw values are concatenated, in that order, for the
// signature; the app key is signed by every request but sent by only one, so it is looked up
// from GlobalParams when the body does not carry it.
std::string SignedBody(const GlobalParams& g, const FormParams& specific,
                       std::initializer_list<std::string_view> signedKeys) {
  FormParams params = CommonParams(g);
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
  return JoinForm(params) + "&osign=" + ZarnApi::Md5Hex(signText);
}

constexpr const char* kUnknown = "_unknown";
constexpr const char* kChannelSteam = "STEAM";

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

const ApiEndpoints& ApiEndpoints::Instance() {
  // Built on first use, which the thread-safe static initialisation makes a one-time step; the
  // environment is read only then, so a later change does not move a running SDK.
  static const ApiEndpoints table = [] {
    const char* override = std::getenv("ZARN_SDK_API_ORIGIN");
    return FromOrigin(override != nullptr && *override != '\0' ? override : ZARN_API_ORIGIN);
  }();
  return table;
}

std::string ZarnApi::BuildCommonParams(const GlobalParams& params) { return JoinForm(CommonParams(params)); }

std::string ZarnApi::Md5Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // Fails only when the MD5 implementation is unavailable; the request then carries an empty
  // signature, which the server refuses like any other bad one.
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0x0F];
  }
  return out;
}

std::string ZarnApi::MerchantExtra(const GlobalParams& params) {
  const nlohmann::json extra = {{"merId", params.steamAppId}};
  // "replace" keeps a malformed id from throwing out of a request builder.
  return extra.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string ZarnApi::ClientConfigBody(const GlobalParams& g) {
  return SignedBody(g, {}, {"appId", "appKey", "clientId", "os", "sdkVer", "sdkType", "runPlatform"});
}

std::string ZarnApi::AttributionBody(const GlobalParams& g) {
  return SignedBody(g,
                    {{"osVer", kUnknown},
                     {"urlParams", ""},
                     {"channelId", kUnknown},
                     {"subChannelId", kUnknown},
                     {"lp", kUnknown},
                     {"userId", "-1"},
                     {"browser", kUnknown},
                     {"browserVersion", kUnknown},
                     {"language", kUnknown}},
                    {"appId", "appKey", "sdkVer", "sdkType", "os", "osVer", "clientId", "runPlatform", "gamePlatform",
                     "channelId", "subChannelId", "lp", "userId", "browser", "browserVersion", "language"});
}

std::string ZarnApi::LoginBody(const GlobalParams& g, const std::string& puserId, const std::string& accessToken) {
  return SignedBody(g,
                    {{"platform", kChannelSteam},
                     {"bindType", "1"},
                     {"puserId", puserId},
                     {"accessToken", accessToken},
                     {"extra", MerchantExtra(g)}},
                    {"appId", "appKey", "bindType", "sdkVer", "sdkType", "clientId", "runPlatform", "gamePlatform",
                     "platform", "accessToken"});
}

std::string ZarnApi::ProductsBody(const GlobalParams& g) {
  return SignedBody(g, {{"page", "1"}, {"pageSize", "999"}, {"extra", MerchantExtra(g)}},
                    {"sdkVer", "sdkType", "clientId", "appId", "os", "runPlatform", "gamePlatform", "extra", "page",
                     "pageSize", "appKey"});
}

std::string ZarnApi::CreateOrderBody(const GlobalParams& g, const std::string& userId, const CreateOrderParams& p) {
  return SignedBody(g,
                    {{"appKey", g.appKey},
                     {"channel", kChannelSteam},
                     {"productId", p.productId},
                     {"orderAmountMicros", p.orderAmountMicros},
                     {"currencyCode", p.currencyCode},
                     {"extInfo", p.extInfo},
                     {"collectionInfo", p.collectionInfo},
                     {"userId", userId},
                     {"serverId", p.serverId},
                     {"gameUserId", p.gameUserId},
                     {"nickName", p.nickName},
                     {"sdkExtInfo", MerchantExtra(g)}},
                    {"appId", "appKey", "channel", "clientId", "currencyCode", "extInfo", "orderAmountMicros",
                     "productId", "sdkVer", "sdkType", "os", "runPlatform", "gamePlatform", "serverId", "gameUserId",
                     "nickName", "userId", "collectionInfo", "sdkExtInfo"});
}

std::string ZarnApi::PayResultBody(const GlobalParams& g, const std::string& userId, const PayResultParams& p) {
  return SignedBody(g,
                    {{"channel", kChannelSteam},
                     {"userId", userId},
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
                     "gameUserId", "status", "trxId", "trxToken", "userId", "channelProductId"});
}

// Each operation works on its own copy of the global parameters (and, where needed, of the
// user id), so a concurrent start-up or login cannot tear a request apart.

void ZarnApi::PostClientConfig(HttpCallback handler) {
  const GlobalParams g = CZarnCore::Instance().GetGlobalParams();
  CZarnHttp::PostCallback(ApiEndpoints::Instance().clientConfigUrl, ClientConfigBody(g), std::move(handler));
}

void ZarnApi::PostAttribution(HttpCallback handler) {
  const GlobalParams g = CZarnCore::Instance().GetGlobalParams();
  CZarnHttp::PostCallback(ApiEndpoints::Instance().attributionUrl, AttributionBody(g), std::move(handler));
}

void ZarnApi::PostLogin(std::string puserId, std::string accessToken, HttpCallback handler) {
  const GlobalParams g = CZarnCore::Instance().GetGlobalParams();
  CZarnHttp::PostCallback(ApiEndpoints::Instance().initUrl, LoginBody(g, puserId, accessToken), std::move(handler));
}

void ZarnApi::PostProducts(HttpCallback handler) {
  const GlobalParams g = CZarnCore::Instance().GetGlobalParams();
  CZarnHttp::PostCallback(ApiEndpoints::Instance().productsUrl, ProductsBody(g), std::move(handler));
}

void ZarnApi::PostCreateOrder(const CreateOrderParams& params, HttpCallback handler) {
  const GlobalParams g = CZarnCore::Instance().GetGlobalParams();
  const std::string userId = CZarnCore::Instance().GetUserId();
  CZarnHttp::PostCallback(ApiEndpoints::Instance().createOrderUrl, CreateOrderBody(g, userId, params),
                          std::move(handler));
}

void ZarnApi::PostPayResult(const PayResultParams& params, HttpCallback handler) {
  const GlobalParams g = CZarnCore::Instance().GetGlobalParams();
  const std::string userId = CZarnCore::Instance().GetUserId();
  CZarnHttp::PostCallback(ApiEndpoints::Instance().payResultUrl, PayResultBody(g, userId, params),
                          std::move(handler));
}

void ZarnApi::PostTrackData(std::string body, HttpCallback handler) {
  sion::Header header;
  header.Add("Content-Type", "text/plain;charset=UTF-8");
  CZarnHttp::PostCallback(ApiEndpoints::Instance().trackDataUrl, body, std::move(handler), &header);
}

}  // namespace ZarnSdk
