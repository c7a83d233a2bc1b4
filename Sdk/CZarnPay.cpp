#include "Sdk/CZarnPay.h"

#include <utility>

#include "Sdk/Encoding.h"
#include "Sdk/ReplyReader.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/ZarnLog.h"
#include "proxy/StringConvert.h"

namespace ZarnSdk {
namespace {

using reply::Json;
using zarnplatform::MutexLock;

// "Not Found Product：" (full-width colon)
constexpr const char kLogProductNotFound[] = "Not Found Product\xA3\xBA";
// "Not Found Steam Order：" (full-width colon)
constexpr const char kLogSteamOrderNotFound[] = "Not Found Steam Order\xA3\xBA";
constexpr const char kLogEarlyReportMatched[] = "Steam Report Kept For Order, Notify Now:";
// Reports kept while creations are pending; more than this many unknown ids at once is not a
// race but a flood, and is dropped.
constexpr std::size_t kMaxEarlyReports = 64;

// The members of a create-order reply, or nothing when the reply is not what an order needs:
// members of other types, no "extInfo" object, or no Steam order id (such an order could never
// be matched by Steam's report, and the game would never hear of it).
std::optional<OrderInfo> ParseOrderReply(const std::string& text) {
  try {
    const std::optional<Json> doc = reply::ParseObject(text);
    if (!doc) return std::nullopt;
    OrderInfo order;
    order.orderId = reply::Text(*doc, "orderId");
    order.productName = reply::Text(*doc, "productName");
    order.defaultCurrency = reply::Text(*doc, "defaultCurrency");
    order.virtualCurrency = reply::Text(*doc, "virtualCurrency");
    order.defaultAmountMicro = reply::Integer<int64_t>(*doc, "defaultAmountMicro");
    order.virtualCoinAmount = reply::Integer<int64_t>(*doc, "virtualCoinAmount");
    const Json& ext = reply::Member(*doc, "extInfo");
    if (!ext.is_object()) return std::nullopt;
    order.steamOrderId = reply::Text(ext, "steamOrderId");
    order.steamTransId = reply::Text(ext, "steamTransId");
    if (order.steamOrderId.empty()) return std::nullopt;
    return order;
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

// The server's "status" of a payment-result reply. A reply without a readable status (empty
// data of a local failure, a broken body, a status that is not a number) confirms nothing: 0.
int32_t PayStatus(const std::string& text) {
  const std::optional<Json> doc = reply::ParseObject(text);
  return doc ? reply::IntegerOr<int32_t>(*doc, "status", 0) : 0;
}

std::string PaymentData(const OrderInfo& order, int32_t status) {
  return CompactJson(Json{{"amount", order.defaultAmountMicro},
                          {"currency", order.defaultCurrency},
                          {"extInfo", order.extInfo},
                          {"orderId", order.orderId},
                          {"productId", order.product.productId},
                          {"quantity", 1},
                          {"status", status}});
}

}  // namespace

// ---------------------------------------------------------------------------- order creation

void CZarnPay::CreateOrder(const std::string& productId, const std::string& extInfo, const GameCallback& callback) {
  if (catalogue_.Loaded()) {
    ContinueOrder(productId, extInfo, callback);
    return;
  }
  catalogue_.Load([this, productId, extInfo, callback]() { ContinueOrder(productId, extInfo, callback); },
                  [callback](HttpResp reply) { callback(reply.code, L"Query Product Failure, " + reply.msg, reply.data); });
}

void CZarnPay::ContinueOrder(const std::string& productId, const std::string& extInfo, const GameCallback& callback) {
  std::optional<ProductInfo> product = catalogue_.Find(productId);
  if (!product) {
    LOG(WARNING) << kLogProductNotFound << productId;
    Report(callback, results::kProductNotFound);
    return;
  }

  const PlayerState player = session_.Player();
  CreateOrderParams params;
  params.productId = productId;
  params.userId = player.userId;
  params.serverId = player.serverId;
  params.gameUserId = player.gameUserId;
  params.nickName = player.nickName;
  params.orderAmountMicros = "0";
  params.collectionInfo = CompactJson(Json{{"deviceId", track_.DeviceId()}, {"resolution", track_.Resolution()}});
  params.currencyCode = "";
  params.extInfo = extInfo;
  {
    MutexLock lock(mutex_);
    ++ordersInFlight_;
  }
  api_.PostCreateOrder(params, [this, product = std::move(*product), extInfo, callback](HttpResp reply) {
    HandleCreateOrderReply(reply, product, extInfo, callback);
  });
}

void CZarnPay::HandleCreateOrderReply(const HttpResp& reply, const ProductInfo& product, const std::string& extInfo,
                                      const GameCallback& callback) {
  std::optional<OrderInfo> order;
  if (reply.code == 200) {
    order = ParseOrderReply(WideToUtf8(reply.data));
    if (order) {
      order->product = product;
      order->callback = callback;
      order->extInfo = extInfo;
    }
  }
  const std::optional<std::string> earlyReport = FinishOrderCreation(order);
  if (reply.code != 200) {
    callback(reply.code, reply.msg, reply.data);
    return;
  }
  if (!order) {
    Report(callback, results::kServerJsonParseError);
    return;
  }
  LOG(INFO) << "Save SteamOrderId:" << order->steamOrderId << ",OrderId:" << order->orderId;
  if (earlyReport) {
    LOG(INFO) << kLogEarlyReportMatched << order->steamOrderId;
    PayResult(*earlyReport, order->steamOrderId);
  }
}

std::optional<std::string> CZarnPay::FinishOrderCreation(const std::optional<OrderInfo>& order) {
  std::optional<std::string> earlyReport;
  MutexLock lock(mutex_);
  if (ordersInFlight_ > 0) --ordersInFlight_;
  if (order) {
    orders_[order->steamOrderId] = *order;
    const auto early = earlyReports_.find(order->steamOrderId);
    if (early != earlyReports_.end()) {
      earlyReport = early->second;
      earlyReports_.erase(early);
    }
  }
  // With no creation pending, a kept report can belong to no order any more.
  if (ordersInFlight_ == 0) earlyReports_.clear();
  return earlyReport;
}

// ---------------------------------------------------------------------------- payment result

void CZarnPay::PayResult(const std::string& authorized, const std::string& steamOrderId) {
  std::optional<OrderInfo> order;
  {
    MutexLock lock(mutex_);
    const auto it = orders_.find(steamOrderId);
    if (it != orders_.end()) {
      order = it->second;
    } else if (ordersInFlight_ > 0 && earlyReports_.size() < kMaxEarlyReports) {
      earlyReports_[steamOrderId] = authorized;
    }
  }
  if (!order) {
    LOG(WARNING) << kLogSteamOrderNotFound << steamOrderId;
    return;
  }

  const PlayerState player = session_.Player();
  PayResultParams params;
  params.channelPayType = "";
  params.userId = player.userId;
  params.orderId = order->orderId;
  params.extVerifyInfo = CompactJson(Json{{"steamOrderId", steamOrderId}});
  params.payAmountMicros = authorized == "1" ? std::to_string(order->defaultAmountMicro) : "0";
  params.serverId = player.serverId;
  params.gameUserId = player.gameUserId;
  params.status = authorized;
  params.trxId = "";
  params.trxToken = "";
  params.channelProductId = order->product.channelProductId;
  api_.PostPayResult(params, [this, steamOrderId, order = std::move(*order)](HttpResp reply) {
    HandlePayResultReply(reply, steamOrderId, order);
  });
}

void CZarnPay::HandlePayResultReply(const HttpResp& reply, const std::string& steamOrderId, const OrderInfo& order) {
  const int32_t status = PayStatus(WideToUtf8(reply.data));
  if (reply.code == 200 && status == 1) {
    {
      MutexLock lock(mutex_);
      orders_.erase(steamOrderId);
    }
    LOG(INFO) << "Notify Pay Result Success, Remove Order Map:" << steamOrderId;
  }
  const std::string data = PaymentData(order, status);
  order.callback(reply.code, reply.msg, Utf8ToWide(data));
  LOG(INFO) << "Notify Pay Result Callback , Data:" << data;
}

}  // namespace ZarnSdk
