// The twelve exports. They keep no state of their own: convert wide strings to UTF-8 and
// forward to the process's SDK. Every export is a hard boundary for exceptions: nothing the
// layers below throw reaches the game; a failure is written to standard error (the log may be
// switched off).
#include "ZarnProxy.h"

#include <cstdio>
#include <exception>

#include "Sdk/SdkInstance.h"
#include "proxy/StringConvert.h"
#include "transport/ProcessExit.h"

namespace {

using ZarnSdk::SdkInstance;
using ZarnSdk::WideToUtf8;

template <class F>
void Guarded(const char* what, F&& body) noexcept {
  try {
    body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zarnsdk: %s failed: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "zarnsdk: %s failed\n", what);
  }
}

// The process's SDK exists from the moment the library is loaded (its Steam port registers
// the Steam callbacks on construction) and is never destroyed: the game may call in, and SDK
// threads may run, until the process ends. When the library is unloaded or the process exits,
// its workers are stopped with a bounded wait so that the game's exit never hangs.
SdkInstance* processSdk = nullptr;

struct ProcessSdk {
  ProcessSdk() noexcept {
    Guarded("load", [] { processSdk = new SdkInstance(ZarnSdk::SdkOptions::FromEnvironment()); });
  }
  ~ProcessSdk() {
    if (processSdk != nullptr) processSdk->Pool().StopForUnload(sion::ProcessIsTerminating());
  }
  ProcessSdk(const ProcessSdk&) = delete;
  ProcessSdk& operator=(const ProcessSdk&) = delete;
};
ProcessSdk processSdkOwner;

template <class F>
void WithSdk(const char* what, F&& body) noexcept {
  Guarded(what, [&] {
    if (processSdk == nullptr) throw std::runtime_error("the SDK could not be created when the library was loaded");
    body(*processSdk);
  });
}

}  // namespace

namespace ZarnProxy {

void CallPay(std::wstring productId, std::wstring extInfo, ResultCallback callback) {
  WithSdk("CallPay", [&](SdkInstance& sdk) { sdk.Core().CallPay(WideToUtf8(productId), WideToUtf8(extInfo), callback); });
}

void Exit() {
  WithSdk("Exit", [](SdkInstance& sdk) { sdk.Core().Exit(); });
}

void Init(std::wstring appId, std::wstring appKey, ResultCallback callback) {
  WithSdk("Init", [&](SdkInstance& sdk) { sdk.Core().InitSdk(WideToUtf8(appId), WideToUtf8(appKey), callback); });
}

bool IsPayAvailable() {
  bool available = false;
  WithSdk("IsPayAvailable", [&](SdkInstance& sdk) { available = sdk.Core().IsPayAvailable(); });
  return available;
}

void Login(ResultCallback callback) {
  WithSdk("Login", [&](SdkInstance& sdk) { sdk.Core().LoginSteam(callback); });
}

void Logout() {
  WithSdk("Logout", [](SdkInstance& sdk) { sdk.Core().Logout(); });
}

void PostEvent(const std::wstring& eventName, const std::wstring& params, double value) {
  WithSdk("PostEvent", [&](SdkInstance& sdk) { sdk.Track().PostEvent(WideToUtf8(eventName), WideToUtf8(params), value); });
}

void QueryProducts(ResultCallback callback) {
  WithSdk("QueryProducts", [&](SdkInstance& sdk) { sdk.Pay().QueryProducts(callback); });
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
