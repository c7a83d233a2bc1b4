// The SDK's objects built from their constructors over a fake poster and a state folder of the
// test's own; no socket, no Steam.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "FakePoster.h"
#include "Harness.h"
#include "Sdk/SessionState.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnConfigUtils.h"

namespace zarntest {

constexpr uint32_t kUnitSteamAppId = 480;
// One STEAM product "gem" (channel id "steam.gem") and one sold elsewhere only.
const std::string kGemList =
    R"({"code":200,"msg":"success","productList":[{"productId":"gem","productName":"Gem","gameCurrencyAmount":5,)"
    R"("payChannel":[{"name":"STEAM","channelProductId":"steam.gem"}]},)"
    R"({"productId":"web_only","payChannel":[{"name":"WEB","channelProductId":"w"}]}]})";

struct UnitRig {
  explicit UnitRig(std::function<void(const ZarnSdk::OutgoingRequest&)> onPost = nullptr) : poster(std::move(onPost)) {
    ZarnSdk::GlobalParams global;
    global.appId = "10001";
    global.appKey = "key";
    global.steamAppId = std::to_string(kUnitSteamAppId);
    session.SetGlobalParams(global);
    store.SetSteamAppId(kUnitSteamAppId);
  }
  TempDir dir;
  FakePoster poster;
  ZarnSdk::SessionState session;
  ZarnSdk::ZarnApi api{poster, "https://unit.invalid", session};
  ZarnSdk::ZarnConfigUtils store{dir.str()};
};

}  // namespace zarntest
