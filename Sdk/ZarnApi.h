// The catalogue of server requests: URLs, form bodies in their fixed parameter order, and the
// MD5 "osign" signature over each request's own signature list.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Sdk/CZarnCore.h"
#include "Sdk/HttpResp.h"

namespace ZarnSdk {

struct ApiEndpoints {
  std::string sdkApiBase;
  std::string initUrl;
  std::string clientConfigUrl;
  std::string attributionUrl;
  std::string productsUrl;
  std::string createOrderUrl;
  std::string payResultUrl;
  std::string trackDataUrl;

  // Built from an origin ("https://host[:port]"; trailing slashes are dropped). Both URL
  // families share it: the API under origin + "/sdkapi", analytics at origin + "/data/h5/v1.do".
  static ApiEndpoints FromOrigin(const std::string& origin);
  // The process-wide table, built once on first use (thread-safe) and never changed: the
  // environment variable ZARN_SDK_API_ORIGIN when set and not empty, else the compiled-in
  // ZARN_API_ORIGIN.
  static const ApiEndpoints& Instance();
};

struct CreateOrderParams {
  std::string productId;
  std::string serverId;
  std::string gameUserId;
  std::string nickName;
  std::string orderAmountMicros;
  std::string collectionInfo;
  std::string currencyCode;
  std::string extInfo;
};

struct PayResultParams {
  std::string channelPayType;
  std::string orderId;
  std::string extVerifyInfo;
  std::string payAmountMicros;
  std::string serverId;
  std::string gameUserId;
  std::string status;
  std::string trxId;
  std::string trxToken;
  std::string channelProductId;
};

// Every Post... operation copies GlobalParams (and, for orders and payment results, the user
// id) from the core once, builds its body on the calling thread and hands it to
// CZarnHttp::PostCallback; the handler later runs once on an HTTP worker. Form values go out
// raw except the bytes "%", "&", "=" and "+", which are percent-encoded (%25 %26 %3D %2B) so
// that no value can add or split a parameter; the signature is always over the raw values.
class ZarnApi {
 public:
  // "appId=..&os=..&sdkVer=..&sdkType=..&clientId=..&runPlatform=..&gamePlatform=..".
  static std::string BuildCommonParams(const GlobalParams& params);
  // 32 lower-case hex digits (empty only if the platform has no MD5).
  static std::string Md5Hex(std::string_view bytes);
  // {"merId":"<steamAppId>"}
  static std::string MerchantExtra(const GlobalParams& params);

  static void PostClientConfig(HttpCallback handler);
  static void PostAttribution(HttpCallback handler);
  static void PostLogin(std::string puserId, std::string accessToken, HttpCallback handler);
  static void PostProducts(HttpCallback handler);
  static void PostCreateOrder(const CreateOrderParams& params, HttpCallback handler);
  static void PostPayResult(const PayResultParams& params, HttpCallback handler);
  // The analytics document as it stands (neither form-encoded nor signed), sent with
  // "Content-Type: text/plain;charset=UTF-8" to trackDataUrl.
  static void PostTrackData(std::string body, HttpCallback handler);

  // The form bodies exactly as posted (exposed for golden tests).
  static std::string ClientConfigBody(const GlobalParams& g);
  static std::string AttributionBody(const GlobalParams& g);
  static std::string LoginBody(const GlobalParams& g, const std::string& puserId, const std::string& accessToken);
  static std::string ProductsBody(const GlobalParams& g);
  static std::string CreateOrderBody(const GlobalParams& g, const std::string& userId, const CreateOrderParams& p);
  static std::string PayResultBody(const GlobalParams& g, const std::string& userId, const PayResultParams& p);
};

}  // namespace ZarnSdk
