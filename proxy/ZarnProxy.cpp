// The twelve C++ exports. They keep no state of their own: convert wide strings to UTF-8 and
// forward to the process's SDK; the game's callback hears wide strings converted from the SDK's
// UTF-8 texts here, once.
#include "ZarnProxy.h"

#include <string>

#include "Sdk/GameCallback.h"
#include "proxy/ProcessSdk.h"
#include "proxy/StringConvert.h"

namespace ZarnProxy {
namespace {

using ZarnSdk::GameCallback;
using ZarnSdk::SdkInstance;
using ZarnSdk::WideToUtf8;
using ZarnSdk::WithSdk;

void CallWide(GameCallback::AnyFunction function, void* /*user*/, int32_t code, const std::string& msg,
              const std::string& data) {
  reinterpret_cast<ResultCallback>(function)(code, ZarnSdk::Utf8ToWide(msg), ZarnSdk::Utf8ToWide(data));
}

// The game's wide-string callback as the SDK calls it; empty for a null one.
GameCallback Wrapped(ResultCallback callback) {
  return GameCallback(&CallWide, reinterpret_cast<GameCallback::AnyFunction>(callback), nullptr);
}

}  // namespace

void CallPay(std::wstring productId, std::wstring extInfo, ResultCallback callback) {
  WithSdk("CallPay", [&](SdkInstance& sdk) {
    sdk.Core().CallPay(WideToUtf8(productId), WideToUtf8(extInfo), Wrapped(callback));
  });
}

void Exit() {
  WithSdk("Exit", [](SdkInstance& sdk) { sdk.Core().Exit(); });
}

void Init(std::wstring appId, std::wstring appKey, ResultCallback callback) {
  WithSdk("Init", [&](SdkInstance& sdk) {
    sdk.Core().InitSdk(WideToUtf8(appId), WideToUtf8(appKey), Wrapped(callback));
  });
}

bool IsPayAvailable() {
  bool available = false;
  WithSdk("IsPayAvailable", [&](SdkInstance& sdk) { available = sdk.Core().IsPayAvailable(); });
  return available;
}

void Login(ResultCallback callback) {
  WithSdk("Login", [&](SdkInstance& sdk) { sdk.Core().LoginSteam(Wrapped(callback)); });
}

void Logout() {
  WithSdk("Logout", [](SdkInstance& sdk) { sdk.Core().Logout(); });
}

void PostEvent(const std::wstring& eventName, const std::wstring& params, double value) {
  WithSdk("PostEvent", [&](SdkInstance& sdk) { sdk.Track().PostEvent(WideToUtf8(eventName), WideToUtf8(params), value); });
}

void QueryProducts(ResultCallback callback) {
  WithSdk("QueryProducts", [&](SdkInstance& sdk) { sdk.Core().QueryProducts(Wrapped(callback)); });
}

void SetGameUserId(std::wstring gameUserId) {
  WithSdk("SetGameUserId", [&](SdkInstance& sdk) { sdk.Core().SetGameUserId(WideToUtf8(gameUserId)); });
}

void SetLevel(int level) {
  WithSdk("SetLevel", [&](SdkInstance& sdk) { sdk.Core().SetLevel(level); });
}

void SetNickName(std::wstring nickName) {
  WithSdk("SetNickName", [&](SdkInstance& sdk) { sdk.Core().SetNickName(WideToUtf8(nickName)); });
}

void SetServerId(std::wstring serverId) {
  WithSdk("SetServerId", [&](SdkInstance& sdk) { sdk.Core().SetServerId(WideToUtf8(serverId)); });
}

}  // namespace ZarnProxy
