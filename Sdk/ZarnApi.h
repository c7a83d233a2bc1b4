// The catalogue of server requests: URLs, form bodies in their fixed parameter order, and the
// MD5 "osign" signature over each request's own signature list. Keeps no state between calls:
// every operation copies the global parameters once, builds its body on the calling thread and
// hands it to the request poster; the handler later runs once on an HTTP worker.
//
// Which requests the transport may send twice: start-up, login, products and payment results
// ask or tell the server something it answers the same way again, and events carry a number
// the server drops a repeat by; those are repeatable. An order creation creates one order each
// time (a second purchase dialog), and nothing shows that the attribution request would be
// recognised: neither is ever repeated.
//
// Form values go out raw except the bytes "%", "&", "=" and "+", which are percent-encoded
// (%25 %26 %3D %2B) so that no value can add or split a parameter; the signature is always over
// the raw values.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "Sdk/HttpResp.h"
#include "Sdk/RequestPoster.h"
#include "Sdk/SessionState.h"

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

  // From an origin ("https://host[:port]"; trailing slashes are dropped). Both URL families
  // share it: the API under origin + "/sdkapi", analytics at origin + "/data/h5/v1.do".
  static ApiEndpoints FromOrigin(const std::string& origin);
};

struct CreateOrderParams {
  std::string productId;
  std::string userId;
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
  std::string userId;
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
  ZarnApi(RequestPoster& poster, ApiEndpoints endpoints, const SessionState& session)
      : poster_(poster), endpoints_(std::move(endpoints)), session_(session) {}

  void PostClientConfig(HttpCallback handler);
  void PostAttribution(HttpCallback handler);
  void PostLogin(const std::string& puserId, const std::string& accessToken, HttpCallback handler);
  void PostProducts(HttpCallback handler);
  void PostCreateOrder(const CreateOrderParams& params, HttpCallback handler);
  // With `notBefore` the request waits until then (a retry), its body byte for byte the same.
  void PostPayResult(const PayResultParams& params, HttpCallback handler,
                     std::optional<std::chrono::steady_clock::time_point> notBefore = std::nullopt);
  // The analytics document as it stands (neither form-encoded nor signed), sent with
  // "Content-Type: text/plain;charset=UTF-8".
  void PostTrackData(std::string body, HttpCallback handler);

 private:
  // `repeatable`: the server recognises the request when it comes again (OutgoingRequest).
  void PostForm(const std::string& url, std::string body, HttpCallback handler, bool repeatable,
                std::optional<std::chrono::steady_clock::time_point> notBefore = std::nullopt);

  RequestPoster& poster_;
  const ApiEndpoints endpoints_;
  const SessionState& session_;
};

}  // namespace ZarnSdk
