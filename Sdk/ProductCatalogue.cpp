#include "Sdk/ProductCatalogue.h"

#include <exception>
#include <utility>

#include "Sdk/Encoding.h"
#include "Sdk/ReplyReader.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/ZarnLog.h"

namespace ZarnSdk {
namespace {

using reply::Json;
using zarnplatform::MutexLock;

// "开始解析商品列表" (parsing the product list)
constexpr GbkText kLogParsingProducts{"\xBF\xAA\xCA\xBC\xBD\xE2\xCE\xF6\xC9\xCC\xC6\xB7\xC1\xD0\xB1\xED"};

}  // namespace

bool ProductCatalogue::Loaded() const {
  MutexLock lock(mutex_);
  return productsLoaded_;
}

void ProductCatalogue::QueryProducts(const GameCallback& callback) {
  if (Loaded()) {
    const HttpResp result = GetProductListResult();
    callback(result.code, result.msg, result.data);
    return;
  }
  Load(
      [this, callback]() {
        const HttpResp result = GetProductListResult();
        callback(result.code, result.msg, result.data);
      },
      [callback](HttpResp reply) { callback(reply.code, reply.msg, reply.data); });
}

void ProductCatalogue::Load(std::function<void()> onDone, std::function<void(HttpResp)> onFail) {
  bool loaded = false;
  bool send = false;
  {
    MutexLock lock(mutex_);
    // Tested under the lock: a load that finishes in between is either seen here or still
    // finds this waiter in the list.
    loaded = productsLoaded_;
    if (!loaded) {
      loadWaiters_.push_back(LoadWaiter{std::move(onDone), std::move(onFail)});
      send = !loadInFlight_;
      loadInFlight_ = true;
    }
  }
  if (loaded) {
    LOG(INFO) << "Query Products Already Init";
    if (onDone) onDone();
    return;
  }
  if (!send) return;
  try {
    api_.Post(calls::kProducts, {}, [this](Answer<ProductListReply> reply) { HandleProductsReply(std::move(reply)); });
  } catch (const std::exception& e) {
    // Nothing was queued, so no reply will end this load: end it here, or every later query
    // would wait for it for ever.
    FailWaiters(HttpResp{results::kHttpFailureCode, e.what(), ""});
  }
}

void ProductCatalogue::FailWaiters(const HttpResp& failure) {
  std::vector<LoadWaiter> waiters;
  {
    MutexLock lock(mutex_);
    loadInFlight_ = false;
    waiters = std::exchange(loadWaiters_, {});
  }
  for (LoadWaiter& waiter : waiters) {
    if (waiter.onFail) waiter.onFail(failure);
  }
}

void ProductCatalogue::HandleProductsReply(Answer<ProductListReply> reply) {
  // The reply was read whole into a list of its own; a malformed one changes nothing.
  if (reply.Ok() == nullptr) {
    FailWaiters(reply.resp);
    return;
  }
  LOG(INFO) << kLogParsingProducts;
  std::vector<ProductInfo> parsed = std::move(reply.value->products);
  std::vector<LoadWaiter> waiters;
  {
    MutexLock lock(mutex_);
    // In document order, so of two entries with one id the later stays.
    for (ProductInfo& product : parsed) {
      std::string key = product.productId;
      products_[std::move(key)] = std::move(product);
    }
    productsLoaded_ = true;
    loadInFlight_ = false;
    waiters = std::exchange(loadWaiters_, {});
  }
  for (LoadWaiter& waiter : waiters) {
    if (waiter.onDone) waiter.onDone();
  }
}

HttpResp ProductCatalogue::GetProductListResult() const {
  Json list = Json::array();
  {
    MutexLock lock(mutex_);
    for (const auto& [id, product] : products_) {
      list.push_back(Json{{"gameCurrencyAmount", product.gameCurrencyAmount},
                          {"productDesc", product.productDesc},
                          {"productId", product.productId},
                          {"productName", product.productName}});
    }
  }
  Json data{{"code", results::kSuccess}, {"msg", "Success"}};
  if (!list.empty()) data["productList"] = std::move(list);
  return HttpResp{results::kSuccess, "Success", CompactJson(data)};
}

std::optional<ProductInfo> ProductCatalogue::Find(const std::string& productId) const {
  MutexLock lock(mutex_);
  const auto it = products_.find(productId);
  if (it == products_.end()) return std::nullopt;
  return it->second;
}

}  // namespace ZarnSdk
