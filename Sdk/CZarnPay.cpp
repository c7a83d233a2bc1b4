#include "Sdk/CZarnPay.h"

#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnLog.h"
#include "proxy/StringConvert.h"

namespace ZarnSdk {
namespace {

// A copy of the entry under `key`, taken under `mutex`, so the caller can work without the lock.
template <class Map>
std::optional<typename Map::mapped_type> CopyUnderLock(std::mutex& mutex, const Map& map, const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

using nlohmann::json;

// "开始解析商品列表" (parsing the product list)
constexpr const char kLogParsingProducts[] = "\xBF\xAA\xCA\xBC\xBD\xE2\xCE\xF6\xC9\xCC\xC6\xB7\xC1\xD0\xB1\xED";
// "Not Found Product：" (full-width colon)
constexpr const char kLogProductNotFound[] = "Not Found Product\xA3\xBA";
// "Not Found Steam Order：" (full-width colon)
constexpr const char kLogSteamOrderNotFound[] = "Not Found Steam Order\xA3\xBA";
constexpr const char kLogEarlyReportMatched[] = "Steam Report Kept For Order, Notify Now:";
// Reports kept while creations are pending; more than this many unknown ids at once is not a
// race but a flood, and is dropped as before.
constexpr std::size_t kMaxEarlyReports = 64;

constexpr const char kSteamChannel[] = "STEAM";

// Texts the SDK writes may hold what the game gave it; a byte sequence that is not UTF-8 must
// not make serialisation throw, so it is replaced instead.
std::string Compact(const json& doc) { return doc.dump(-1, ' ', false, json::error_handler_t::replace); }

[[noreturn]] void ThrowWrongType(const json& value, const char* expected) {
  throw json::type_error::create(302, std::string("type must be ") + expected + ", but is " + value.type_name(),
                                 &value);
}

// The members of an object, or none when it is null. Any other type is a malformed reply.
const json& ObjectOrNull(const json& value) {
  if (!value.is_object() && !value.is_null()) ThrowWrongType(value, "object");
  return value;
}

// An absent member reads as null.
const json& Member(const json& object, const char* key) {
  static const json kNull;
  if (!object.is_object()) return kNull;
  const auto it = object.find(key);
  return it == object.end() ? kNull : *it;
}

// The elements of a list member; absent or null means none. Any other type is malformed.
const json& ListMember(const json& object, const char* key) {
  static const json kEmpty = json::array();
  const json& value = Member(object, key);
  if (value.is_null()) return kEmpty;
  if (!value.is_array()) ThrowWrongType(value, "array");
  return value;
}

// Absent or null reads as the empty text (servers write null for "no value"); another type is
// malformed.
std::string TextMember(const json& object, const char* key) {
  const json& value = Member(object, key);
  if (value.is_null()) return {};
  if (!value.is_string()) ThrowWrongType(value, "string");
  return value.get<std::string>();
}

// Absent or null reads as 0; a fraction is cut toward zero, a boolean counts as 0 or 1. A value
// outside Int's range is malformed rather than wrapped, so a price is never read as another one.
template <typename Int>
Int IntegerMember(const json& object, const char* key) {
  const json& value = Member(object, key);
  std::optional<Int> result;
  switch (value.type()) {
    case json::value_t::null:
      return 0;
    case json::value_t::boolean:
      return value.get<bool>() ? 1 : 0;
    case json::value_t::number_unsigned: {
      const uint64_t v = value.get<uint64_t>();
      if (v <= static_cast<uint64_t>(std::numeric_limits<Int>::max())) result = static_cast<Int>(v);
      break;
    }
    case json::value_t::number_integer: {
      const int64_t v = value.get<int64_t>();
      if (v >= std::numeric_limits<Int>::min() && v <= std::numeric_limits<Int>::max()) result = static_cast<Int>(v);
      break;
    }
    case json::value_t::number_float: {
      const double v = std::trunc(value.get<double>());
      // Both bounds are powers of two, so they are exact as doubles.
      const double upper = -static_cast<double>(std::numeric_limits<Int>::min());
      if (std::isfinite(v) && v >= static_cast<double>(std::numeric_limits<Int>::min()) && v < upper) {
        result = static_cast<Int>(v);
      }
      break;
    }
    default:
      ThrowWrongType(value, "number");
  }
  if (!result) {
    throw json::out_of_range::create(406, std::string("number of member '") + key + "' is out of range", &value);
  }
  return *result;
}

// The reply is parsed whole into a table of its own; the caller merges it only when this
// returns, so a malformed reply changes nothing. Throws the JSON library's exceptions.
std::vector<ProductInfo> ParseProductList(const std::string& text) {
  const json doc = json::parse(text);
  std::vector<ProductInfo> products;
  for (const json& product : ListMember(ObjectOrNull(doc), "productList")) {
    if (ObjectOrNull(product).is_null()) continue;
    for (const json& channel : ListMember(product, "payChannel")) {
      if (ObjectOrNull(channel).is_null()) continue;
      const json& name = Member(channel, "name");
      if (!name.is_string() || name.get_ref<const std::string&>() != kSteamChannel) continue;
      ProductInfo info;
      info.productName = TextMember(product, "productName");
      info.productId = TextMember(product, "productId");
      info.productDesc = TextMember(product, "productDesc");
      info.productCurrencyCode = TextMember(product, "productCurrencyCode");
      info.gameCurrencyAmount = IntegerMember<int32_t>(product, "gameCurrencyAmount");
      info.channelProductId = TextMember(channel, "channelProductId");
      products.push_back(std::move(info));
    }
  }
  return products;
}

// The members of a create-order reply, or nothing when the reply is not what an order needs:
// members of other types, no "extInfo" object, or no Steam order id (such an order could never
// be matched by Steam's report, and the game would never hear of it).
std::optional<OrderInfo> ParseOrderReply(const std::string& text) {
  try {
    const json doc = json::parse(text);
    if (!doc.is_object()) return std::nullopt;
    OrderInfo order;
    order.orderId = TextMember(doc, "orderId");
    order.productName = TextMember(doc, "productName");
    order.defaultCurrency = TextMember(doc, "defaultCurrency");
    order.virtualCurrency = TextMember(doc, "virtualCurrency");
    order.defaultAmountMicro = IntegerMember<int64_t>(doc, "defaultAmountMicro");
    order.virtualCoinAmount = IntegerMember<int64_t>(doc, "virtualCoinAmount");
    const json& ext = Member(doc, "extInfo");
    if (!ext.is_object()) return std::nullopt;
    order.steamOrderId = TextMember(ext, "steamOrderId");
    order.steamTransId = TextMember(ext, "steamTransId");
    if (order.steamOrderId.empty()) return std::nullopt;
    return order;
  } catch (const json::exception&) {
    return std::nullopt;
  }
}

// The server's "status" of a payment-result reply. A reply without a readable status (empty
// data of a local failure, a broken body, a status that is not a number) confirms nothing: 0.
int32_t PayStatus(const std::string& text) {
  const json doc = json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return 0;
  try {
    return IntegerMember<int32_t>(doc, "status");
  } catch (const json::exception&) {
    return 0;
  }
}

std::string PaymentData(const OrderInfo& order, int32_t status) {
  json data;
  data["amount"] = order.defaultAmountMicro;
  data["currency"] = order.defaultCurrency;
  data["extInfo"] = order.extInfo;
  data["orderId"] = order.orderId;
  data["productId"] = order.product.productId;
  data["quantity"] = 1;
  data["status"] = status;
  return Compact(data);
}

}  // namespace

CZarnPay& CZarnPay::Instance() {
  // Never destroyed: reply handlers on detached workers may still use it at process end.
  static CZarnPay* const pay = new CZarnPay();
  return *pay;
}

// ---------------------------------------------------------------------------- catalogue

void CZarnPay::QueryProducts(ResultCallback callback) {
  if (CZarnCore::Instance().productsLoaded) {
    const HttpResp result = GetProductListResult();
    InvokeCallback(callback, result.code, result.msg, result.data);
    return;
  }
  QueryProducts(
      [this, callback]() {
        const HttpResp result = GetProductListResult();
        InvokeCallback(callback, result.code, result.msg, result.data);
      },
      [callback](HttpResp reply) { InvokeCallback(callback, reply.code, reply.msg, reply.data); });
}

void CZarnPay::QueryProducts(std::function<void()> onDone, std::function<void(HttpResp)> onFail) {
  bool loaded = false;
  bool send = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Tested under the lock: a load that finishes in between either is seen here or still
    // finds this waiter in the list.
    loaded = CZarnCore::Instance().productsLoaded;
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
    ZarnApi::PostProducts([this](HttpResp reply) { HandleProductsReply(reply); });
  } catch (const std::exception& e) {
    // Nothing was queued, so no reply will end this load: end it here, or every later query
    // would wait for it forever.
    const HttpResp failure{-502, Utf8ToWide(e.what()), L""};
    for (LoadWaiter& waiter : TakeLoadWaiters()) {
      if (waiter.onFail) waiter.onFail(failure);
    }
  }
}

std::vector<CZarnPay::LoadWaiter> CZarnPay::TakeLoadWaiters() {
  std::lock_guard<std::mutex> lock(mutex_);
  loadInFlight_ = false;
  return std::exchange(loadWaiters_, {});
}

void CZarnPay::HandleProductsReply(const HttpResp& reply) {
  if (reply.code != 200) {
    for (LoadWaiter& waiter : TakeLoadWaiters()) {
      if (waiter.onFail) waiter.onFail(reply);
    }
    return;
  }
  LOG(INFO) << kLogParsingProducts;
  std::vector<ProductInfo> parsed;
  try {
    parsed = ParseProductList(WideToUtf8(reply.data));
  } catch (const json::exception& e) {
    const HttpResp failure{-501, Utf8ToWide(e.what()), L""};
    for (LoadWaiter& waiter : TakeLoadWaiters()) {
      if (waiter.onFail) waiter.onFail(failure);
    }
    return;
  }
  std::vector<LoadWaiter> waiters;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // In document order, so of two entries with one id the later stays.
    for (ProductInfo& product : parsed) {
      std::string key = product.productId;
      products_[std::move(key)] = std::move(product);
    }
    CZarnCore::Instance().productsLoaded = true;
    loadInFlight_ = false;
    waiters = std::exchange(loadWaiters_, {});
  }
  for (LoadWaiter& waiter : waiters) {
    if (waiter.onDone) waiter.onDone();
  }
}

HttpResp CZarnPay::GetProductListResult() {
  json list = json::array();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, product] : products_) {
      list.push_back(json{{"gameCurrencyAmount", product.gameCurrencyAmount},
                          {"productDesc", product.productDesc},
                          {"productId", product.productId},
                          {"productName", product.productName}});
    }
  }
  json data{{"code", 200}, {"msg", "Success"}};
  if (!list.empty()) data["productList"] = std::move(list);
  return HttpResp{200, L"Success", Utf8ToWide(Compact(data))};
}

// ---------------------------------------------------------------------------- order creation

void CZarnPay::CreateOrder(std::string productId, std::string extInfo, ResultCallback callback) {
  if (CZarnCore::Instance().productsLoaded) {
    ContinueOrder(productId, extInfo, callback);
    return;
  }
  QueryProducts(
      [this, productId, extInfo, callback]() { ContinueOrder(productId, extInfo, callback); },
      [callback](HttpResp reply) {
        InvokeCallback(callback, reply.code, L"Query Product Failure, " + reply.msg, reply.data);
      });
}

void CZarnPay::ContinueOrder(const std::string& productId, const std::string& extInfo, ResultCallback callback) {
  std::optional<ProductInfo> product = CopyUnderLock(mutex_, products_, productId);
  if (!product) {
    LOG(WARNING) << kLogProductNotFound << productId;
    InvokeCallback(callback, -400, L"Not Found Product.", L"");
    return;
  }

  const PlayerState player = CZarnCore::Instance().GetPlayerState();
  CZarnTrack& track = CZarnTrack::Instance();
  const json collection{{"deviceId", track.DeviceId()}, {"resolution", track.Resolution()}};

  CreateOrderParams params;
  params.productId = productId;
  params.serverId = player.serverId;
  params.gameUserId = player.gameUserId;
  params.nickName = player.nickName;
  params.orderAmountMicros = "0";
  params.collectionInfo = Compact(collection);
  params.currencyCode = "";
  params.extInfo = extInfo;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++ordersInFlight_;
  }
  ZarnApi::PostCreateOrder(params, [this, product = std::move(*product), extInfo, callback](HttpResp reply) {
    HandleCreateOrderReply(reply, product, extInfo, callback);
  });
}

void CZarnPay::HandleCreateOrderReply(const HttpResp& reply, const ProductInfo& product, const std::string& extInfo,
                                      ResultCallback callback) {
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
    InvokeCallback(callback, reply.code, reply.msg, reply.data);
    return;
  }
  if (!order) {
    InvokeCallback(callback, -501, L"Server JSON Parse Error.", L"");
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
  std::lock_guard<std::mutex> lock(mutex_);
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

void CZarnPay::PayResult(std::string authorized, std::string steamOrderId) {
  std::optional<OrderInfo> order;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = orders_.find(steamOrderId);
    if (it != orders_.end()) {
      order = it->second;
    } else if (ordersInFlight_ > 0 && earlyReports_.size() < kMaxEarlyReports) {
      // Steam may answer before the creation reply that names this order has been handled;
      // the report is kept until that reply, or dropped once no creation is pending.
      earlyReports_[steamOrderId] = authorized;
    }
  }
  if (!order) {
    LOG(WARNING) << kLogSteamOrderNotFound << steamOrderId;
    return;
  }

  const PlayerState player = CZarnCore::Instance().GetPlayerState();
  PayResultParams params;
  params.channelPayType = "";
  params.orderId = order->orderId;
  params.extVerifyInfo = Compact(json{{"steamOrderId", steamOrderId}});
  params.payAmountMicros = authorized == "1" ? std::to_string(order->defaultAmountMicro) : "0";
  params.serverId = player.serverId;
  params.gameUserId = player.gameUserId;
  params.status = authorized;
  params.trxId = "";
  params.trxToken = "";
  params.channelProductId = order->product.channelProductId;
  ZarnApi::PostPayResult(params, [this, steamOrderId, order = std::move(*order)](HttpResp reply) {
    HandlePayResultReply(reply, steamOrderId, order);
  });
}

void CZarnPay::HandlePayResultReply(const HttpResp& reply, const std::string& steamOrderId, const OrderInfo& order) {
  const int32_t status = PayStatus(WideToUtf8(reply.data));
  if (reply.code == 200 && status == 1) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      orders_.erase(steamOrderId);
    }
    LOG(INFO) << "Notify Pay Result Success, Remove Order Map:" << steamOrderId;
  }
  const std::string data = PaymentData(order, status);
  InvokeCallback(order.callback, reply.code, reply.msg, Utf8ToWide(data));
  LOG(INFO) << "Notify Pay Result Callback , Data:" << data;
}

}  // namespace ZarnSdk
