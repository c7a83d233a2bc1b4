// Payment: the product catalogue, order creation and the payment result notification.
//
// Threads: the game's threads (queries, CallPay), HTTP workers (every reply handler) and the
// Steam callback pump (PayResult). mutex_ guards products_ and orders_; the core's
// productsLoaded flag is set only after the table is complete. No lock is held while a game
// callback or a completion runs.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

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
  static CZarnPay& Instance();

  // Makes sure the catalogue is loaded; then onDone, or onFail with the failed reply.
  void QueryProducts(std::function<void()> onDone, std::function<void(HttpResp)> onFail);
  // Behind the export and the start-up preload.
  void QueryProducts(ResultCallback callback);
  HttpResp GetProductListResult();

  void CreateOrder(std::string productId, std::string extInfo, ResultCallback callback);
  void PayResult(std::string authorized, std::string steamOrderId);

 private:
  CZarnPay() = default;
  ~CZarnPay() = delete;

  std::mutex mutex_;
  std::unordered_map<std::string, ProductInfo> products_;  // guarded by mutex_
  std::unordered_map<std::string, OrderInfo> orders_;      // guarded by mutex_
};

}  // namespace ZarnSdk
