// The normal answers of the mock server to verified requests, and the settings tests change
// them with (test device flag, login token and user id, payment status, Steam order id,
// product catalogue). Thread-safe: every member function takes the factory's one mutex, which
// guards all settings, the catalogue and the order counters; nothing is called out under it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "tools/mock_backend/FormBody.h"
#include "tools/mock_backend/ProductCatalogue.h"

namespace zarnmock {

// An order the server has just created, for the Steam overlay simulation.
struct CreatedOrder {
  std::string steamOrderId;
  uint32_t steamAppId = 0;   // from the order's merchant extra text ("sdkExtInfo")
};

struct FactoryReply {
  std::string body;                   // the JSON envelope
  std::optional<CreatedOrder> order;  // set only for an order the server accepted
};

class ReplyFactory {
 public:
  ReplyFactory();

  // The answer to a verified request on one of the served paths (form or analytics). `params`
  // are the decoded form parameters (empty for analytics).
  FactoryReply Answer(const std::string& path, const FormParams& params);

  void SetIsTestDevice(int value);
  void SetLoginToken(std::string token);
  void SetLoginUserId(int64_t userId);
  void SetPayStatus(int status);
  // Every following order gets this Steam order id (any text); nullopt returns to fresh ids.
  void ForceSteamOrderId(std::optional<std::string> steamOrderId);
  // The fresh Steam order id the next order gets; later orders count up from it. Lets a test
  // have Steam report a purchase before its order is created.
  uint64_t NextSteamOrderId();
  void SetCatalogue(ProductCatalogue catalogue);

 private:
  std::string NextSteamOrderIdLocked();

  std::mutex mutex_;
  int isTestDevice_ = 0;
  std::string loginToken_ = "zarn-mock-token";
  int64_t loginUserId_ = 100001;
  int payStatus_ = 1;
  std::optional<std::string> forcedSteamOrderId_;
  ProductCatalogue catalogue_;
  uint64_t nextSteamOrderId_;   // starts at a random point above 2^32 so runs rarely collide
  uint64_t orderCount_ = 0;
  std::string runTag_;
};

}  // namespace zarnmock
