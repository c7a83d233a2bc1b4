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
constexpr const char kSteamChannel[] = "STEAM";

// The reply is read whole into a list of its own; the caller merges it only when this
// returns, so a malformed reply changes nothing. Throws the JSON library's exceptions.
std::vector<ProductInfo> ParseProductList(const std::string& text) {
  const Json doc = Json::parse(text);
  std::vector<ProductInfo> products;
  for (const Json& product : reply::List(reply::ObjectOrNull(doc), "productList")) {
    if (reply::ObjectOrNull(product).is_null()) continue;
    for (const Json& channel : reply::List(product, "payChannel")) {
      if (reply::ObjectOrNull(channel).is_null()) continue;
      const Json& name = reply::Member(channel, "name");
      if (!name.is_string() || name.get_ref<const std::string&>() != kSteamChannel) continue;
      ProductInfo info;
      info.productName = reply::Text(product, "productName");
      info.productId = reply::Text(product, "productId");
      info.productDesc = reply::Text(product, "productDesc");
      info.productCurrencyCode = reply::Text(product, "productCurrencyCode");
      info.gameCurrencyAmount = reply::Integer<int32_t>(product, "gameCurrencyAmount");
      info.channelProductId = reply::Text(channel, "channelProductId");
      products.push_back(std::move(info));
    }
  }
  return products;
}

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
    api_.PostProducts([this](HttpResp reply) { HandleProductsReply(reply); });
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

void ProductCatalogue::HandleProductsReply(const HttpResp& reply) {
  if (reply.code != results::kSuccess) {
    FailWaiters(reply);
    return;
  }
  LOG(INFO) << kLogParsingProducts;
  std::vector<ProductInfo> parsed;
  try {
    parsed = ParseProductList(reply.data);
  } catch (const Json::exception& e) {
    FailWaiters(HttpResp{results::kBadReplyCode, e.what(), ""});
    return;
  }
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
