#include "Sdk/CZarnPay.h"

#include <utility>
#include <vector>

#include "Sdk/Encoding.h"
#include "Sdk/ReplyReader.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/ZarnLog.h"
#include "platform/Utf8.h"

namespace ZarnSdk {
namespace {

using reply::Json;
using zarnplatform::MutexLock;

// "Not Found Product：" (full-width colon)
constexpr GbkText kLogProductNotFound{"Not Found Product\xA3\xBA"};
// "Not Found Steam Order：" (full-width colon)
constexpr GbkText kLogSteamOrderNotFound{"Not Found Steam Order\xA3\xBA"};
constexpr const char kLogEarlyReportMatched[] = "Steam Report Kept For Order, Notify Now:";
// Kept reports are bounded by age; this bound only guards memory against a flood of reports
// for ids no order will ever have.
constexpr std::size_t kMaxEarlyReports = 10000;

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
  // The buyer is whoever is logged in now, whatever happens before the order is created.
  const PlayerState buyer = session_.Player();
  if (catalogue_.Loaded()) {
    ContinueOrder(productId, extInfo, buyer, callback);
    return;
  }
  catalogue_.Load([this, productId, extInfo, buyer, callback]() { ContinueOrder(productId, extInfo, buyer, callback); },
                  [callback](HttpResp reply) {
                    callback(reply.code, "Query Product Failure, " + reply.msg, reply.data);
                  });
}

void CZarnPay::ContinueOrder(const std::string& productId, const std::string& extInfo, const PlayerState& buyer,
                             const GameCallback& callback) {
  std::optional<ProductInfo> product = catalogue_.Find(productId);
  if (!product) {
    LOG(WARNING) << kLogProductNotFound << productId;
    Report(callback, results::kProductNotFound);
    return;
  }

  const FormValues params{
      {"productId", productId},
      {"userId", buyer.userId},
      {"serverId", buyer.serverId},
      {"gameUserId", buyer.gameUserId},
      {"nickName", buyer.nickName},
      {"orderAmountMicros", "0"},
      {"collectionInfo", CompactJson(Json{{"deviceId", track_.DeviceId()}, {"resolution", track_.Resolution()}})},
      {"currencyCode", ""},
      {"extInfo", extInfo}};
  OrderInfo draft;
  draft.product = std::move(*product);
  draft.callback = callback;
  draft.extInfo = extInfo;
  draft.buyer = buyer;
  {
    MutexLock lock(mutex_);
    ++ordersInFlight_;
  }
  api_.Post(calls::kCreateOrder, params, [this, draft = std::move(draft)](Answer<OrderReply> reply) mutable {
    HandleCreateOrderReply(reply, std::move(draft));
  });
}

void CZarnPay::HandleCreateOrderReply(const Answer<OrderReply>& answer, OrderInfo draft) {
  const HttpResp& reply = answer.resp;
  std::optional<OrderInfo> order;
  if (const OrderReply* created = answer.Ok()) {
    order = draft;
    static_cast<OrderReply&>(*order) = *created;
  }
  const Stored stored = FinishOrderCreation(order);
  if (stored.displaced) {
    LOG(ERROR) << "Steam Order Id Reused By A New Order, Older Order Failed:" << stored.displaced->steamOrderId
               << ",OrderId:" << stored.displaced->orderId;
    const SdkResult& failure = results::kServerJsonParseError;
    stored.displaced->callback(failure.code, failure.message, PaymentData(*stored.displaced, 0));
  }
  // A reply that does not read is -501 "Server JSON Parse Error." by now.
  if (!order) {
    draft.callback(reply.code, reply.msg, reply.data);
    return;
  }
  LOG(INFO) << "Save SteamOrderId:" << order->steamOrderId << ",OrderId:" << order->orderId;
  if (stored.earlyReport) {
    LOG(INFO) << kLogEarlyReportMatched << order->steamOrderId;
    HandleSteamReport(*stored.earlyReport, order->steamOrderId);
  }
}

CZarnPay::Stored CZarnPay::FinishOrderCreation(const std::optional<OrderInfo>& order) {
  Stored stored;
  MutexLock lock(mutex_);
  if (ordersInFlight_ > 0) --ordersInFlight_;
  if (order) {
    OrderEntry& entry = orders_[order->steamOrderId];
    // An order that already heard Steam, or whose result is on its way, gets its one callback
    // from that; only one still waiting would never hear anything.
    if (entry.serial != 0 && entry.stage == OrderStage::AwaitingSteam) stored.displaced = std::move(entry.order);
    entry = OrderEntry{*order, OrderStage::AwaitingSteam, ++nextSerial_};
    const auto early = earlyReports_.find(order->steamOrderId);
    if (early != earlyReports_.end()) {
      stored.earlyReport = early->second.authorized;
      earlyReports_.erase(early);
    }
  }
  // With no creation pending, a kept report can belong to no order any more.
  if (ordersInFlight_ == 0) earlyReports_.clear();
  return stored;
}

void CZarnPay::KeepEarlyReport(const std::string& steamOrderId, const std::string& authorized) {
  const auto now = clock_();
  for (auto it = earlyReports_.begin(); it != earlyReports_.end();) {
    if (now - it->second.arrived < kEarlyReportLifetime) {
      ++it;
      continue;
    }
    LOG(WARNING) << "Kept Steam Report Expired, No Order Came:" << it->first;
    it = earlyReports_.erase(it);
  }
  if (earlyReports_.size() >= kMaxEarlyReports && earlyReports_.count(steamOrderId) == 0) {
    LOG(WARNING) << "Too Many Kept Steam Reports, Dropped:" << steamOrderId;
    return;
  }
  earlyReports_[steamOrderId] = KeptReport{authorized, now};
}

// ---------------------------------------------------------------------------- payment result

void CZarnPay::PayResult(uint32_t appId, const std::string& authorized, const std::string& steamOrderId) {
  const std::string ownAppId = session_.Global().steamAppId;
  if (!ownAppId.empty() && ownAppId != std::to_string(appId)) {
    LOG(WARNING) << "Steam Report For Another App Ignored, AppID:" << appId << ", SteamOrderID:" << steamOrderId;
    return;
  }
  HandleSteamReport(authorized, steamOrderId);
}

void CZarnPay::HandleSteamReport(const std::string& authorized, const std::string& steamOrderId) {
  PayResultSend send{steamOrderId, authorized, {}, 0, true, 0};
  {
    MutexLock lock(mutex_);
    const auto it = orders_.find(steamOrderId);
    if (it == orders_.end()) {
      if (ordersInFlight_ > 0) KeepEarlyReport(steamOrderId, authorized);
      lock.Unlock();
      LOG(WARNING) << kLogSteamOrderNotFound << steamOrderId;
      return;
    }
    OrderEntry& entry = it->second;
    if (entry.stage == OrderStage::Notifying) {
      // Steam changed its mind while the earlier result is on its way: the new report follows
      // it, so the server hears both, in order.
      const bool queued = entry.nextReport != "1" && (entry.nextReport || authorized != entry.sending);
      if (queued) entry.nextReport = authorized;
      lock.Unlock();
      LOG(WARNING) << (queued ? "Steam Report Queued Behind The Result Being Sent:"
                              : "Steam Report Repeated While Its Result Is Being Sent:")
                   << steamOrderId;
      return;
    }
    // A settled order was called back already: the server hears the report again, the game not.
    send.toGame = entry.stage == OrderStage::AwaitingSteam;
    entry.stage = OrderStage::Notifying;
    entry.sending = authorized;
    send.order = entry.order;
    send.serial = entry.serial;
  }
  if (!send.toGame) LOG(WARNING) << "Steam Report For A Settled Order, Server Told Again:" << steamOrderId;
  SendPayResult(std::move(send));
}

void CZarnPay::SendPayResult(PayResultSend send) {
  const OrderInfo& order = send.order;
  const FormValues params{
      {"channelPayType", ""},
      {"userId", order.buyer.userId},
      {"orderId", order.orderId},
      {"extVerifyInfo", CompactJson(Json{{"steamOrderId", send.steamOrderId}})},
      {"payAmountMicros", send.authorized == "1" ? std::to_string(order.defaultAmountMicro) : "0"},
      {"serverId", order.buyer.serverId},
      {"gameUserId", order.buyer.gameUserId},
      {"status", send.authorized},
      {"trxId", ""},
      {"trxToken", ""},
      {"channelProductId", order.product.channelProductId}};
  std::optional<std::chrono::steady_clock::time_point> notBefore;
  if (send.attempt > 0) notBefore = clock_() + send.wait;
  api_.Post(
      calls::kPayResult, params,
      [this, send = std::move(send)](const Answer<PayResultReply>& reply) mutable {
        // The game's data shows the server's status whatever its code.
        HandlePayResultReply(reply.resp, reply.value ? reply.value->status : 0, std::move(send));
      },
      notBefore);
}

void CZarnPay::HandlePayResultReply(const HttpResp& reply, int32_t status, PayResultSend send) {
  // No reply, or the server failed: the player may have paid, so the server must hear of it.
  if (RetryPolicy::IsTransient(reply) && send.attempt + 1 < kPayResultAttempts) {
    {
      MutexLock lock(mutex_);
      send.wait = retry_.Wait(send.attempt + 1, reply.retryAfter);
    }
    ++send.attempt;
    LOG(WARNING) << "Notify Pay Result Failed, Try " << send.attempt + 1 << ":" << send.steamOrderId << ","
                 << zarnplatform::SanitizeUtf8(reply.msg);
    SendPayResult(std::move(send));
    return;
  }
  const bool paid = reply.code == results::kSuccess && status == 1;
  std::optional<PayResultSend> next;
  {
    MutexLock lock(mutex_);
    const auto it = orders_.find(send.steamOrderId);
    // A later order under the same Steam order id is not this one's to settle.
    if (it != orders_.end() && it->second.serial == send.serial) {
      OrderEntry& entry = it->second;
      if (paid) {
        orders_.erase(it);
      } else if (entry.nextReport && *entry.nextReport != send.authorized) {
        // Still Notifying: the report that came meanwhile goes now, to the server only.
        next = PayResultSend{send.steamOrderId, *entry.nextReport, entry.order, entry.serial, false, 0};
        entry.sending = *entry.nextReport;
        entry.nextReport.reset();
      } else {
        entry.nextReport.reset();
        entry.stage = OrderStage::Settled;
      }
    }
  }
  if (paid) LOG(INFO) << "Notify Pay Result Success, Remove Order Map:" << send.steamOrderId;
  // Before the game's callback, which may throw.
  if (next) SendPayResult(std::move(*next));
  const std::string data = PaymentData(send.order, status);
  if (!send.toGame) {
    LOG(INFO) << "Pay Result Sent Again, Data:" << data;
    return;
  }
  send.order.callback(reply.code, reply.msg, data);
  LOG(INFO) << "Notify Pay Result Callback , Data:" << data;
}

}  // namespace ZarnSdk
