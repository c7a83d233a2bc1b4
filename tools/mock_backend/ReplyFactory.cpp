#include "tools/mock_backend/ReplyFactory.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <random>

#include "tools/mock_backend/ApiPaths.h"

namespace zarnmock {
namespace {

using Envelope = nlohmann::ordered_json;

Envelope Success() { return Envelope{{"code", 200}, {"msg", "success"}}; }

const std::string& ValueOf(const FormParams& params, const std::string& name) {
  static const std::string kEmpty;
  for (const auto& [key, value] : params) {
    if (key == name) return value;
  }
  return kEmpty;
}

// The Steam app id of a merchant extra text that verification has already accepted.
uint32_t MerchantAppId(const std::string& merchantExtra) {
  const auto doc = nlohmann::json::parse(merchantExtra, nullptr, false);
  if (!doc.is_object() || !doc.contains("merId") || !doc["merId"].is_string()) return 0;
  return static_cast<uint32_t>(std::stoull(doc["merId"].get<std::string>()));
}

std::string Dump(const Envelope& envelope) {
  return envelope.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

ReplyFactory::ReplyFactory() : catalogue_(ProductCatalogue::Builtin()) {
  std::random_device random;
  const uint64_t offset = (static_cast<uint64_t>(random()) << 16) ^ random();
  nextSteamOrderId_ = (uint64_t{1} << 32) + 1'000'000 + offset % 1'000'000'000'000ULL;
  char tag[16];
  std::snprintf(tag, sizeof tag, "%06x", static_cast<unsigned>(random() & 0xFFFFFF));
  runTag_ = tag;
}

std::string ReplyFactory::NextSteamOrderIdLocked() {
  if (forcedSteamOrderId_) return *forcedSteamOrderId_;
  return std::to_string(nextSteamOrderId_++);
}

FactoryReply ReplyFactory::Answer(const std::string& path, const FormParams& params) {
  std::lock_guard<std::mutex> lock(mutex_);
  FactoryReply reply;
  Envelope envelope = Success();
  if (path == paths::kClientConfig) {
    envelope["isTestDevice"] = isTestDevice_;
  } else if (path == paths::kLogin) {
    envelope["token"] = loginToken_;
    envelope["userId"] = loginUserId_;
  } else if (path == paths::kProducts) {
    envelope["productList"] = catalogue_.ProductList();
  } else if (path == paths::kCreateOrder) {
    const std::string& productId = ValueOf(params, "productId");
    const nlohmann::json* product = catalogue_.Find(productId);
    if (product == nullptr) {
      reply.body = Dump(Envelope{{"code", 1004}, {"msg", "product not found: " + productId}});
      return reply;
    }
    ++orderCount_;
    char orderId[48];
    std::snprintf(orderId, sizeof orderId, "ZM-%s-%06llu", runTag_.c_str(),
                  static_cast<unsigned long long>(orderCount_));
    const std::string steamOrderId = NextSteamOrderIdLocked();
    envelope["orderId"] = orderId;
    envelope["productName"] = ProductText(*product, "productName", productId);
    envelope["defaultCurrency"] = "USD";
    envelope["defaultAmountMicro"] = ProductInteger(*product, "priceMicros", 990000);
    envelope["virtualCoinAmount"] = ProductInteger(*product, "gameCurrencyAmount", 0);
    envelope["virtualCurrency"] = ProductText(*product, "virtualCurrency", "Gem");
    envelope["extInfo"] = Envelope{{"steamOrderId", steamOrderId},
                                   {"steamTransId", std::to_string(7'000'000'000'000ULL + orderCount_)}};
    reply.order = CreatedOrder{steamOrderId, MerchantAppId(ValueOf(params, "sdkExtInfo"))};
  } else if (path == paths::kPayResult) {
    envelope["status"] = payStatus_;
  }
  // The attribution and analytics answers are the bare success envelope.
  reply.body = Dump(envelope);
  return reply;
}

void ReplyFactory::SetIsTestDevice(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  isTestDevice_ = value;
}

void ReplyFactory::SetLoginToken(std::string token) {
  std::lock_guard<std::mutex> lock(mutex_);
  loginToken_ = std::move(token);
}

void ReplyFactory::SetLoginUserId(int64_t userId) {
  std::lock_guard<std::mutex> lock(mutex_);
  loginUserId_ = userId;
}

void ReplyFactory::SetPayStatus(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  payStatus_ = status;
}

void ReplyFactory::ForceSteamOrderId(std::optional<std::string> steamOrderId) {
  std::lock_guard<std::mutex> lock(mutex_);
  forcedSteamOrderId_ = std::move(steamOrderId);
}

uint64_t ReplyFactory::NextSteamOrderId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return nextSteamOrderId_;
}

void ReplyFactory::SetCatalogue(ProductCatalogue catalogue) {
  std::lock_guard<std::mutex> lock(mutex_);
  catalogue_ = std::move(catalogue);
}

}  // namespace zarnmock
