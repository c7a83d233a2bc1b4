// Every call the SDK makes to its server, one entry each: where it goes, on which lane, which
// parameters its body carries in which order and which of them it signs in which order, what
// must hold before the game may make it, whether the transport may send it twice, and the type
// its reply is read into. ZarnApi builds and sends a call from its entry alone; the core admits
// the game's calls by it. A new call is an entry here, a reply type (ServerReplies.h) and a thin
// export.
//
// Which calls may be sent twice: start-up, login, products and payment results ask or tell the
// server something it answers the same way again, and events carry a number the server drops a
// repeat by. An order creation creates one order each time (a second purchase dialog), and
// nothing shows that the attribution would be recognised: neither is ever repeated.
#pragma once

#include <span>
#include <string_view>

#include "Sdk/ServerReplies.h"
#include "transport/WorkerPool.h"

namespace ZarnSdk {

// What must hold before the game may make a call, checked in this order; the first that fails
// is the game's answer: -401 "Sdk Not Init.", -400 "Process Exit!", -405 "Not Login.", and
// (once the catalogue is loaded, by the payment object) -400 "Not Found Product.".
enum Admission : unsigned {
  kNoChecks = 0,
  kStarted = 1u << 0,
  kNotExited = 1u << 1,
  kLoggedIn = 1u << 2,
  kProductKnown = 1u << 3,
};

// Where a form parameter's value comes from.
enum class From {
  Caller,         // the caller's value of that key (empty when it gives none)
  Constant,       // `constant`
  AppKey,         // the application key
  MerchantExtra,  // {"merId":"<Steam app id>"}
  UserId,         // the logged-in player's server user id, "-1" when nobody is
};

struct CallParam {
  std::string_view key;
  From from = From::Caller;
  std::string_view constant = {};
};

// A form call's body: "appId", "os", "sdkVer", "sdkType", "clientId", "runPlatform",
// "gamePlatform", then `params` in order, then "osign": the MD5 of the values of `signedKeys`
// concatenated in that order (the application key signed by every call, sent by few). A
// document call sends the caller's text as it stands, neither encoded nor signed.
struct CallSpec {
  std::string_view path;  // after the server's origin
  sion::Lane lane = sion::Lane::Game;
  bool repeatable = false;
  unsigned admission = kNoChecks;
  std::span<const CallParam> params = {};
  std::span<const std::string_view> signedKeys = {};
  bool document = false;
};

template <typename Reply>
struct ServerCall : CallSpec {
  using ReplyType = Reply;
};

namespace calls {

inline constexpr std::string_view kClientConfigSigned[] = {"appId",  "appKey",  "clientId",   "os",
                                                           "sdkVer", "sdkType", "runPlatform"};
inline constexpr ServerCall<StartupReply> kClientConfig{
    {"/sdkapi/v3/config/client.do", sion::Lane::Game, true, kNoChecks, {}, kClientConfigSigned}};

inline constexpr CallParam kAttributionParams[] = {
    {"osVer", From::Constant, "_unknown"},   {"urlParams", From::Constant, ""},
    {"channelId", From::Constant, "_unknown"}, {"subChannelId", From::Constant, "_unknown"},
    {"lp", From::Constant, "_unknown"},      {"userId", From::Constant, "-1"},
    {"browser", From::Constant, "_unknown"}, {"browserVersion", From::Constant, "_unknown"},
    {"language", From::Constant, "_unknown"}};
inline constexpr std::string_view kAttributionSigned[] = {
    "appId",        "appKey",       "sdkVer",    "sdkType", "os",     "osVer",   "clientId",       "runPlatform",
    "gamePlatform", "channelId",    "subChannelId", "lp",   "userId", "browser", "browserVersion", "language"};
inline constexpr ServerCall<EmptyReply> kAttribution{
    {"/sdkapi/v1/attribution.do", sion::Lane::Game, false, kNoChecks, kAttributionParams, kAttributionSigned}};

inline constexpr CallParam kLoginParams[] = {{"platform", From::Constant, "STEAM"},
                                             {"bindType", From::Constant, "1"},
                                             {"puserId"},
                                             {"accessToken"},
                                             {"extra", From::MerchantExtra}};
inline constexpr std::string_view kLoginSigned[] = {"appId",       "appKey",       "bindType", "sdkVer",
                                                    "sdkType",     "clientId",     "runPlatform",
                                                    "gamePlatform", "platform",    "accessToken"};
inline constexpr ServerCall<LoginReply> kLogin{
    {"/sdkapi/v22/init.do", sion::Lane::Game, true, kStarted, kLoginParams, kLoginSigned}};

inline constexpr CallParam kProductsParams[] = {
    {"page", From::Constant, "1"}, {"pageSize", From::Constant, "999"}, {"extra", From::MerchantExtra}};
inline constexpr std::string_view kProductsSigned[] = {"sdkVer",       "sdkType", "clientId", "appId",
                                                       "os",           "runPlatform", "gamePlatform",
                                                       "extra",        "page",    "pageSize", "appKey"};
// Not exited: only when the catalogue must be fetched (a loaded one answers after Exit too).
inline constexpr ServerCall<ProductListReply> kProducts{
    {"/sdkapi/v10/pay/products.do", sion::Lane::Game, true, kStarted | kNotExited, kProductsParams, kProductsSigned}};

inline constexpr CallParam kCreateOrderParams[] = {
    {"appKey", From::AppKey},     {"channel", From::Constant, "STEAM"}, {"productId"}, {"orderAmountMicros"},
    {"currencyCode"},             {"extInfo"},                          {"collectionInfo"}, {"userId"},
    {"serverId"},                 {"gameUserId"},                       {"nickName"}, {"sdkExtInfo", From::MerchantExtra}};
inline constexpr std::string_view kCreateOrderSigned[] = {
    "appId",   "appKey",  "channel", "clientId",    "currencyCode", "extInfo",  "orderAmountMicros",
    "productId", "sdkVer", "sdkType", "os",         "runPlatform",  "gamePlatform", "serverId",
    "gameUserId", "nickName", "userId", "collectionInfo", "sdkExtInfo"};
inline constexpr ServerCall<OrderReply> kCreateOrder{{"/sdkapi/v10/pay/create_order.do", sion::Lane::Game, false,
                                                      kStarted | kNotExited | kLoggedIn | kProductKnown,
                                                      kCreateOrderParams, kCreateOrderSigned}};

inline constexpr CallParam kPayResultParams[] = {
    {"channel", From::Constant, "STEAM"}, {"userId"}, {"serverId"}, {"gameUserId"}, {"orderId"}, {"extVerifyInfo"},
    {"status"}, {"payAmountMicros"}, {"channelPayType"}, {"channelProductId"}, {"trxId"}, {"trxToken"}};
inline constexpr std::string_view kPayResultSigned[] = {
    "appId",   "appKey",  "channel", "channelPayType", "clientId",     "orderId",    "extVerifyInfo",
    "payAmountMicros", "sdkVer", "sdkType", "os",      "runPlatform",  "gamePlatform", "serverId",
    "gameUserId", "status", "trxId", "trxToken", "userId", "channelProductId"};
// Sent on Steam's report, not by the game: nothing to admit.
inline constexpr ServerCall<PayResultReply> kPayResult{
    {"/sdkapi/v10/pay/pay_result.do", sion::Lane::Game, true, kNoChecks, kPayResultParams, kPayResultSigned}};

// Analytics: one JSON document per post, behind the game's calls.
inline constexpr ServerCall<EmptyReply> kTrackData{
    {"/data/h5/v1.do", sion::Lane::Background, true, kNoChecks, {}, {}, true}};

}  // namespace calls
}  // namespace ZarnSdk
