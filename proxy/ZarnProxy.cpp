// The twelve exports. They keep no state: convert wide strings to UTF-8 and forward.
// Every export is a hard boundary for exceptions: nothing the layers below throw reaches the
// game; a failure is written to standard error (the log may be switched off).
#include "ZarnProxy.h"

#include <cstdio>
#include <exception>

#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnPay.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/ZarnApi.h"
#include "proxy/StringConvert.h"
#include "transport/WorkerPool.h"

namespace {

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

// The process-wide objects exist from the moment the library is loaded (the core registers its
// Steam callbacks on construction).
struct ProcessObjects {
  ProcessObjects() noexcept {
    Guarded("load", [] {
      ZarnSdk::CZarnCore::Instance();
      ZarnSdk::CZarnPay::Instance();
      ZarnSdk::CZarnTrack::Instance();
      ZarnSdk::ApiEndpoints::Instance();
      sion::WorkerPool::Instance();
    });
  }
};
const ProcessObjects processObjects;

}  // namespace

namespace ZarnProxy {

using ZarnSdk::CZarnCore;
using ZarnSdk::WideToUtf8;

void CallPay(std::wstring productId, std::wstring extInfo, ResultCallback callback) {
  Guarded("CallPay", [&] { CZarnCore::Instance().CallPay(WideToUtf8(productId), WideToUtf8(extInfo), callback); });
}

void Exit() {
  Guarded("Exit", [] { CZarnCore::Instance().Exit(); });
}

void Init(std::wstring appId, std::wstring appKey, ResultCallback callback) {
  Guarded("Init", [&] { CZarnCore::Instance().InitSdk(WideToUtf8(appId), WideToUtf8(appKey), callback); });
}

bool IsPayAvailable() {
  bool available = false;
  Guarded("IsPayAvailable", [&] { available = CZarnCore::Instance().IsPayAvailable(); });
  return available;
}

void Login(ResultCallback callback) {
  Guarded("Login", [&] { CZarnCore::Instance().LoginSteam(callback); });
}

void Logout() {
  Guarded("Logout", [] { CZarnCore::Instance().Logout(); });
}

void PostEvent(const std::wstring& eventName, const std::wstring& params, double value) {
  Guarded("PostEvent",
          [&] { ZarnSdk::CZarnTrack::Instance().PostEvent(WideToUtf8(eventName), WideToUtf8(params), value); });
}

void QueryProducts(ResultCallback callback) {
  Guarded("QueryProducts", [&] { ZarnSdk::CZarnPay::Instance().QueryProducts(callback); });
}

void SetGameUserId(std::wstring gameUserId) {
  Guarded("SetGameUserId", [&] { CZarnCore::Instance().SetGameUserId(WideToUtf8(gameUserId)); });
}

void SetLevel(int level) {
  Guarded("SetLevel", [&] { CZarnCore::Instance().SetLevel(level); });
}

void SetNickName(std::wstring nickName) {
  Guarded("SetNickName", [&] { CZarnCore::Instance().SetNickName(WideToUtf8(nickName)); });
}

void SetServerId(std::wstring serverId) {
  Guarded("SetServerId", [&] { CZarnCore::Instance().SetServerId(WideToUtf8(serverId)); });
}

}  // namespace ZarnProxy
