// Payment: the product catalogue, order creation and the payment result notification.
//
// Threads: the game's threads (queries, CallPay), HTTP workers (every reply handler) and the
// Steam callback pump (PayResult, entered while the core holds its Steam lock, so PayResult only
// looks the order up and queues a request: it never calls the game and never blocks).
//
// Locking: mutex_ guards products_, orders_, loadInFlight_, loadWaiters_, ordersInFlight_ and
// earlyReports_. It is held only for short table operations; never while a game callback, an
// onDone/onFail, a request or a call into the core or the tracker runs. The core's
// productsLoaded flag is set under mutex_ right after a complete reply has been merged into
// products_, so whoever sees it set finds the table filled.
//
// Catalogue loads are shared: while one products request is in flight, further loads queue their
// onDone/onFail and are answered by that request's reply instead of sending their own.
//
// Every game callback goes through InvokeCallback, so a null one is skipped; a purchase made
// with a null callback still creates and reports its order.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Sdk/HttpResp.h"
#include "ZarnProxy.h"

namespace ZarnSdk {

struct ProductInfo {
  std::string productName;
  std::string productDesc;
  std::string productCurrencyCode;
  std::string productId;
  int32_t gameCurrencyAmount = 0;
  std::string channelProductId;
};

struct OrderInfo {
  ProductInfo product;
  ResultCallback callback = nullptr;
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
  // The process-wide payment object; never destroyed, so reply handlers may outlive any caller.
  static CZarnPay& Instance();

  // Makes sure the catalogue is loaded; then onDone, or onFail with the failed reply (a reply
  // that does not parse arrives as -501 with the JSON library's text). Exactly one of the two
  // runs, once: on the calling thread when already loaded, else on the HTTP worker that handles
  // the products reply. Neither runs under a lock.
  void QueryProducts(std::function<void()> onDone, std::function<void(HttpResp)> onFail);
  // Behind the export and the start-up preload: the product list, or the failed reply, reaches
  // callback (unless null) on the calling thread when loaded, else on an HTTP worker.
  void QueryProducts(ResultCallback callback);
  // 200 "Success" and the table as compact JSON ("productList" absent when empty).
  HttpResp GetProductListResult();

  // Called by the core's CallPay on the game's thread. callback hears a failure to create the
  // order, or later the payment result; never a successful creation.
  void CreateOrder(std::string productId, std::string extInfo, ResultCallback callback);
  // Called on the Steam callback pump with the authorisation flag ("1" authorised) and the Steam
  // order id as decimal text. Never calls the game; the server's verdict reaches the order's
  // callback from an HTTP worker. A report that finds no order while a creation is pending is
  // kept, and handled by the worker that stores its order (Steam may be quicker than the
  // creation reply); with no creation pending it is dropped.
  void PayResult(std::string authorized, std::string steamOrderId);

 private:
  struct LoadWaiter {
    std::function<void()> onDone;
    std::function<void(HttpResp)> onFail;
  };

  CZarnPay() = default;
  ~CZarnPay() = delete;

  void HandleProductsReply(const HttpResp& reply);
  // Ends the in-flight load: hands the waiters back (to be answered outside the lock).
  std::vector<LoadWaiter> TakeLoadWaiters();
  void ContinueOrder(const std::string& productId, const std::string& extInfo, ResultCallback callback);
  void HandleCreateOrderReply(const HttpResp& reply, const ProductInfo& product, const std::string& extInfo,
                              ResultCallback callback);
  // Stores a successfully created order (if any) and ends one pending creation; hands back a
  // Steam report that arrived for that order before it was stored.
  std::optional<std::string> FinishOrderCreation(const std::optional<OrderInfo>& order);
  void HandlePayResultReply(const HttpResp& reply, const std::string& steamOrderId, const OrderInfo& order);

  std::mutex mutex_;
  std::unordered_map<std::string, ProductInfo> products_;  // guarded by mutex_
  std::unordered_map<std::string, OrderInfo> orders_;      // guarded by mutex_
  bool loadInFlight_ = false;                              // guarded by mutex_
  std::vector<LoadWaiter> loadWaiters_;                    // guarded by mutex_
  int ordersInFlight_ = 0;                                 // guarded by mutex_
  // Steam reports (order id -> authorisation flag) that found no order while a creation was
  // pending. guarded by mutex_
  std::unordered_map<std::string, std::string> earlyReports_;
};

}  // namespace ZarnSdk
