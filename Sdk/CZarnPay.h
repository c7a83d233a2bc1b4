// Payment: the product catalogue, order creation and the payment result notification.
//
// Threads: the game's threads (queries, CallPay), HTTP workers (every reply handler) and the
// Steam callback pump (PayResult, entered while the Steam port holds its lock, so PayResult
// only looks the order up and posts a request: it never calls the game and never blocks).
//
// Locking: mutex_ guards the orders and the early reports; it is held only for short table
// operations, never while a game callback, a catalogue call or a post runs. The catalogue has
// its own lock; the two are never held together.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "Sdk/CZarnTrack.h"
#include "Sdk/GameCallback.h"
#include "Sdk/HttpResp.h"
#include "Sdk/ProductCatalogue.h"
#include "Sdk/SessionState.h"
#include "Sdk/ZarnApi.h"
#include "platform/Mutex.h"

namespace ZarnSdk {

struct OrderInfo {
  ProductInfo product;
  GameCallback callback;
  std::string orderId;
  std::string productName;
  std::string defaultCurrency;
  int64_t defaultAmountMicro = 0;
  int64_t virtualCoinAmount = 0;
  std::string virtualCurrency;
  std::string extInfo;
  std::string steamOrderId;
  std::string steamTransId;
};

class CZarnPay {
 public:
  CZarnPay(ZarnApi& api, const SessionState& session, const CZarnTrack& track)
      : api_(api), session_(session), track_(track), catalogue_(api) {}

  ProductCatalogue& Catalogue() { return catalogue_; }

  // Behind the export and the start-up preload: the product list, or the failed reply, reaches
  // callback on the calling thread when loaded, else on an HTTP worker.
  void QueryProducts(const GameCallback& callback) { catalogue_.QueryProducts(callback); }

  // Called by the core's CallPay on the game's thread. callback hears a failure to create the
  // order, or later the payment result; never a successful creation.
  void CreateOrder(const std::string& productId, const std::string& extInfo, const GameCallback& callback);
  // Called on the Steam callback pump with the authorisation flag ("1" authorised) and the Steam
  // order id as decimal text. A report that finds no order while a creation is pending is kept
  // and handled by the worker that stores its order (Steam may be quicker than the creation
  // reply); with no creation pending it is dropped.
  void PayResult(const std::string& authorized, const std::string& steamOrderId) EXCLUDES(mutex_);

 private:
  void ContinueOrder(const std::string& productId, const std::string& extInfo, const GameCallback& callback)
      EXCLUDES(mutex_);
  void HandleCreateOrderReply(const HttpResp& reply, const ProductInfo& product, const std::string& extInfo,
                              const GameCallback& callback) EXCLUDES(mutex_);
  // Stores a created order (if any) and ends one pending creation; hands back a Steam report
  // that arrived for that order before it was stored.
  std::optional<std::string> FinishOrderCreation(const std::optional<OrderInfo>& order) EXCLUDES(mutex_);
  void HandlePayResultReply(const HttpResp& reply, const std::string& steamOrderId, const OrderInfo& order)
      EXCLUDES(mutex_);

  ZarnApi& api_;
  const SessionState& session_;
  const CZarnTrack& track_;
  ProductCatalogue catalogue_;

  zarnplatform::Mutex mutex_;
  std::unordered_map<std::string, OrderInfo> orders_ GUARDED_BY(mutex_);
  int ordersInFlight_ GUARDED_BY(mutex_) = 0;
  // Steam reports (order id -> authorisation flag) that found no order while a creation was
  // pending.
  std::unordered_map<std::string, std::string> earlyReports_ GUARDED_BY(mutex_);
};

}  // namespace ZarnSdk
