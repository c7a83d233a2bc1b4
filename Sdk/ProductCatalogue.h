// The STEAM product catalogue: loaded from the server once per process, then answered from
// memory. Part of the payment object.
//
// Threads: queries come from the game's threads and from HTTP workers (the start-up preload,
// deferred orders); the reply handler runs on an HTTP worker. `mutex_` guards the table, the
// loaded flag and the waiters; it is never held while a callback, a waiter or a post runs.
// Loads are shared: while one products request is in flight, later queries wait for its reply
// instead of sending their own.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Sdk/GameCallback.h"
#include "Sdk/HttpResp.h"
#include "Sdk/ZarnApi.h"
#include "platform/Mutex.h"

namespace ZarnSdk {

class ProductCatalogue {
 public:
  explicit ProductCatalogue(ZarnApi& api) : api_(api) {}

  bool Loaded() const EXCLUDES(mutex_);
  // Makes sure the catalogue is loaded; then onDone, or onFail with the failed reply (one that
  // does not read arrives as -501, by ZarnApi's one rule). Exactly one of the two
  // runs, once: on the calling thread when already loaded, else on the HTTP worker that
  // handles the products reply.
  void Load(std::function<void()> onDone, std::function<void(HttpResp)> onFail) EXCLUDES(mutex_);
  // The game's query: the product list, or the failed reply unchanged.
  void QueryProducts(const GameCallback& callback) EXCLUDES(mutex_);
  // 200 "Success" and the table as compact JSON ("productList" absent when empty).
  HttpResp GetProductListResult() const EXCLUDES(mutex_);
  // The entry of exactly this id (case and every byte count).
  std::optional<ProductInfo> Find(const std::string& productId) const EXCLUDES(mutex_);

 private:
  struct LoadWaiter {
    std::function<void()> onDone;
    std::function<void(HttpResp)> onFail;
  };

  void HandleProductsReply(Answer<ProductListReply> reply) EXCLUDES(mutex_);
  void FailWaiters(const HttpResp& failure) EXCLUDES(mutex_);

  ZarnApi& api_;
  mutable zarnplatform::Mutex mutex_;
  std::unordered_map<std::string, ProductInfo> products_ GUARDED_BY(mutex_);
  bool productsLoaded_ GUARDED_BY(mutex_) = false;
  bool loadInFlight_ GUARDED_BY(mutex_) = false;
  std::vector<LoadWaiter> loadWaiters_ GUARDED_BY(mutex_);
};

}  // namespace ZarnSdk
