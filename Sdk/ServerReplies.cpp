#include "Sdk/ServerReplies.h"

#include <utility>

namespace ZarnSdk {

using reply::Json;

std::optional<StartupReply> StartupReply::Read(const Json& doc) {
  return StartupReply{reply::IntegerOr<int64_t>(doc, "isTestDevice", 0) == 1};
}

std::optional<LoginReply> LoginReply::Read(const Json& doc) {
  LoginReply parsed{reply::Text(doc, "token")};
  if (!reply::Member(doc, "userId").is_null()) parsed.userId = std::to_string(reply::Integer<int64_t>(doc, "userId"));
  return parsed;
}

std::optional<ProductListReply> ProductListReply::Read(const Json& doc) {
  ProductListReply list;
  for (const Json& product : reply::List(reply::ObjectOrNull(doc), "productList")) {
    if (reply::ObjectOrNull(product).is_null()) continue;
    for (const Json& channel : reply::List(product, "payChannel")) {
      if (reply::ObjectOrNull(channel).is_null()) continue;
      const Json& name = reply::Member(channel, "name");
      if (!name.is_string() || name.get_ref<const std::string&>() != "STEAM") continue;
      ProductInfo info;
      info.productName = reply::Text(product, "productName");
      info.productId = reply::Text(product, "productId");
      info.productDesc = reply::Text(product, "productDesc");
      info.productCurrencyCode = reply::Text(product, "productCurrencyCode");
      info.gameCurrencyAmount = reply::Integer<int32_t>(product, "gameCurrencyAmount");
      info.channelProductId = reply::Text(channel, "channelProductId");
      list.products.push_back(std::move(info));
    }
  }
  return list;
}

std::optional<OrderReply> OrderReply::Read(const Json& doc) {
  OrderReply order;
  order.orderId = reply::Text(doc, "orderId");
  order.productName = reply::Text(doc, "productName");
  order.defaultCurrency = reply::Text(doc, "defaultCurrency");
  order.virtualCurrency = reply::Text(doc, "virtualCurrency");
  order.defaultAmountMicro = reply::Integer<int64_t>(doc, "defaultAmountMicro");
  order.virtualCoinAmount = reply::Integer<int64_t>(doc, "virtualCoinAmount");
  const Json& ext = reply::Member(doc, "extInfo");
  if (!ext.is_object()) return std::nullopt;
  order.steamOrderId = reply::Text(ext, "steamOrderId");
  order.steamTransId = reply::Text(ext, "steamTransId");
  if (order.steamOrderId.empty()) return std::nullopt;
  return order;
}

std::optional<PayResultReply> PayResultReply::Read(const Json& doc) {
  return PayResultReply{reply::Integer<int32_t>(doc, "status")};
}

}  // namespace ZarnSdk
