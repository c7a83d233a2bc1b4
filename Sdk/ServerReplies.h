// What the SDK reads from each server call's reply, one type per call. Each type's Read takes
// the reply's whole JSON document (an object, beside "code" and "msg") and gives the typed value,
// or nothing when the document is not that call's reply; it may throw the JSON library's
// exceptions for members of the wrong type (ReplyReader's rules). ZarnApi calls Read only for a
// reply of code 200 and turns a failure into the one answer for an unreadable reply.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Sdk/ReplyReader.h"

namespace ZarnSdk {

// A call whose reply carries nothing the SDK reads (attribution, events).
struct EmptyReply {
  static std::optional<EmptyReply> Read(const reply::Json&) { return EmptyReply{}; }
};

struct StartupReply {
  // "isTestDevice" 1; a marker of another type than number or boolean counts as "not a test
  // device" rather than as an unreadable reply, so a start-up never fails on it.
  bool testDevice = false;
  static std::optional<StartupReply> Read(const reply::Json& doc);
};

struct LoginReply {
  std::string token;
  std::string userId = "-1";  // stays "-1" when the reply names none
  // "userId" must be an integer that fits 64 bits.
  static std::optional<LoginReply> Read(const reply::Json& doc);
};

struct ProductInfo {
  std::string productName;
  std::string productDesc;
  std::string productCurrencyCode;
  std::string productId;
  int32_t gameCurrencyAmount = 0;
  std::string channelProductId;
};

struct ProductListReply {
  // The STEAM entries, in document order.
  std::vector<ProductInfo> products;
  static std::optional<ProductListReply> Read(const reply::Json& doc);
};

struct OrderReply {
  std::string orderId;
  std::string productName;
  std::string defaultCurrency;
  int64_t defaultAmountMicro = 0;
  int64_t virtualCoinAmount = 0;
  std::string virtualCurrency;
  std::string steamOrderId;
  std::string steamTransId;
  // Needs an "extInfo" object with a Steam order id: without one Steam's report could never be
  // matched to the order, and the game would never hear of it.
  static std::optional<OrderReply> Read(const reply::Json& doc);
};

struct PayResultReply {
  int32_t status = 0;  // 1: the server confirms the payment; 0 when absent
  static std::optional<PayResultReply> Read(const reply::Json& doc);
};

}  // namespace ZarnSdk
