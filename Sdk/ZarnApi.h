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

  // Built from an origin ("https://host[:port]").
  static ApiEndpoints FromOrigin(const std::string& origin);
  // The process-wide table: ZARN_SDK_API_ORIGIN when set at load, else the compiled-in origin.
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

class ZarnApi {
 public:
  static std::string BuildCommonParams(const GlobalParams& params);
  static std::string Md5Hex(std::string_view bytes);
  // {"merId":"<steamAppId>"}
  static std::string MerchantExtra(const GlobalParams& params);

  static void PostClientConfig(HttpCallback handler);
  static void PostAttribution(HttpCallback handler);
  static void PostLogin(std::string puserId, std::string accessToken, HttpCallback handler);
  static void PostProducts(HttpCallback handler);
  static void PostCreateOrder(const CreateOrderParams& params, HttpCallback handler);
  static void PostPayResult(const PayResultParams& params, HttpCallback handler);
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
