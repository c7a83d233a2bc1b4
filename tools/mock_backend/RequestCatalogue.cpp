#include "tools/mock_backend/RequestCatalogue.h"

#include "tools/mock_backend/ApiPaths.h"

namespace zarnmock {
namespace {

std::vector<FormRequestSpec> BuildSpecs() {
  std::vector<FormRequestSpec> specs;

  specs.push_back({paths::kClientConfig,
                   "client config",
                   {},
                   {"appId", "appKey", "clientId", "os", "sdkVer", "sdkType", "runPlatform"},
                   {},
                   {}});

  specs.push_back({paths::kAttribution,
                   "attribution",
                   {"osVer", "urlParams", "channelId", "subChannelId", "lp", "userId", "browser",
                    "browserVersion", "language"},
                   {"appId", "appKey", "sdkVer", "sdkType", "os", "osVer", "clientId", "runPlatform",
                    "gamePlatform", "channelId", "subChannelId", "lp", "userId", "browser",
                    "browserVersion", "language"},
                   {{"osVer", "_unknown"},
                    {"urlParams", ""},
                    {"channelId", "_unknown"},
                    {"subChannelId", "_unknown"},
                    {"lp", "_unknown"},
                    {"userId", "-1"},
                    {"browser", "_unknown"},
                    {"browserVersion", "_unknown"},
                    {"language", "_unknown"}},
                   {}});

  specs.push_back({paths::kLogin,
                   "login",
                   {"platform", "bindType", "puserId", "accessToken", "extra"},
                   {"appId", "appKey", "bindType", "sdkVer", "sdkType", "clientId", "runPlatform",
                    "gamePlatform", "platform", "accessToken"},
                   {{"platform", "STEAM"}, {"bindType", "1"}},
                   {{"extra", JsonValueKind::MerchantExtra}}});

  specs.push_back({paths::kProducts,
                   "products",
                   {"page", "pageSize", "extra"},
                   {"sdkVer", "sdkType", "clientId", "appId", "os", "runPlatform", "gamePlatform",
                    "extra", "page", "pageSize", "appKey"},
                   {{"page", "1"}, {"pageSize", "999"}},
                   {{"extra", JsonValueKind::MerchantExtra}}});

  specs.push_back({paths::kCreateOrder,
                   "create order",
                   {"appKey", "channel", "productId", "orderAmountMicros", "currencyCode", "extInfo",
                    "collectionInfo", "userId", "serverId", "gameUserId", "nickName", "sdkExtInfo"},
                   {"appId", "appKey", "channel", "clientId", "currencyCode", "extInfo",
                    "orderAmountMicros", "productId", "sdkVer", "sdkType", "os", "runPlatform",
                    "gamePlatform", "serverId", "gameUserId", "nickName", "userId", "collectionInfo",
                    "sdkExtInfo"},
                   {{"channel", "STEAM"}, {"orderAmountMicros", "0"}, {"currencyCode", ""}},
                   {{"collectionInfo", JsonValueKind::CollectionInfo},
                    {"sdkExtInfo", JsonValueKind::MerchantExtra}}});

  specs.push_back({paths::kPayResult,
                   "pay result",
                   {"channel", "userId", "serverId", "gameUserId", "orderId", "extVerifyInfo", "status",
                    "payAmountMicros", "channelPayType", "channelProductId", "trxId", "trxToken"},
                   {"appId", "appKey", "channel", "channelPayType", "clientId", "orderId",
                    "extVerifyInfo", "payAmountMicros", "sdkVer", "sdkType", "os", "runPlatform",
                    "gamePlatform", "serverId", "gameUserId", "status", "trxId", "trxToken", "userId",
                    "channelProductId"},
                   {{"channel", "STEAM"}, {"channelPayType", ""}, {"trxId", ""}, {"trxToken", ""}},
                   {{"extVerifyInfo", JsonValueKind::ExtVerifyInfo}}});

  return specs;
}

}  // namespace

const std::vector<std::string>& CommonParams() {
  static const std::vector<std::string> common = {"appId",    "os",          "sdkVer",      "sdkType",
                                                  "clientId", "runPlatform", "gamePlatform"};
  return common;
}

std::vector<std::string> ExpectedParamOrder(const FormRequestSpec& spec) {
  std::vector<std::string> order = CommonParams();
  order.insert(order.end(), spec.ownParams.begin(), spec.ownParams.end());
  order.emplace_back("osign");
  return order;
}

const FormRequestSpec* FindFormRequestSpec(const std::string& path) {
  static const std::vector<FormRequestSpec> specs = BuildSpecs();
  for (const auto& spec : specs) {
    if (spec.path == path) return &spec;
  }
  return nullptr;
}

}  // namespace zarnmock
