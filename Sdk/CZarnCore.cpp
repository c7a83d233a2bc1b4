#include "Sdk/CZarnCore.h"

#include <limits>
#include <optional>
#include <utility>

#include "Sdk/ReplyReader.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/ZarnLog.h"
#include "Sdk/ZarnUtils.h"

namespace ZarnSdk {

using zarnplatform::MutexLock;

// ------------------------------------------------------------------------------------ start-up

void CZarnCore::InitSdk(const std::string& appId, const std::string& appKey, const GameCallback& callback) {
  if (isInit_) {
    Report(callback, results::kAlreadyInit);
    return;
  }
  {
    MutexLock lock(initMutex_);
    if (!isInit_ && !StartLocked(appId, appKey)) {
      lock.Unlock();
      Report(callback, results::kSteamInitFailure);
      return;
    }
  }
  if (isInit_) {
    Report(callback, results::kAlreadyInit);
    return;
  }
  c_.track.PostEvent("qzk_startup", "", std::numeric_limits<double>::quiet_NaN());
  c_.api.Post(calls::kClientConfig, {},
              [this, callback](Answer<StartupReply> answer) { HandleStartupReply(answer, callback); });
}

bool CZarnCore::StartLocked(const std::string& appId, const std::string& appKey) {
  ConfigureLogger(false);
  // After Exit Steam has been shut down for good; the session refuses to start it again.
  if (!c_.steam.InitSteam()) return false;
  if (const auto steamAppId = c_.steam.AppId()) c_.store.SetSteamAppId(*steamAppId);
  c_.store.RemoveStaleTemporaryFiles();
  InitGlobalParams(appId, appKey);
  // A repeated Init (the first start-up reply failed or is still outstanding) reuses the
  // running workers instead of starting them twice.
  if (!poolStarted_) {
    if (!c_.pool.Start()) {
      LOG(ERROR) << "Worker Threads Could Not Start.";
      return false;
    }
    poolStarted_ = true;
  }
  if (!c_.delivery.Start()) return false;
  c_.track.Init();
  return true;
}

void CZarnCore::InitGlobalParams(const std::string& appId, const std::string& appKey) {
  GlobalParams params;
  params.appId = appId;
  params.appKey = appKey;
  params.os = "Windows";  // a wire constant the server keys on, the same on every platform
  params.sdkVer = kSdkVersion;
  params.sdkType = "html5";
  params.clientId = ZarnUtils::GetClientId(c_.store);
  params.runPlatform = "html5";
  params.gamePlatform = "steam";
  const auto steamAppId = c_.store.SteamAppId();
  params.steamAppId = steamAppId ? std::to_string(*steamAppId) : std::string();
  LOG(INFO) << "Init AppId:" << params.appId << ",ClientId:" << params.clientId;
  c_.session.SetGlobalParams(std::move(params));
}

void CZarnCore::HandleStartupReply(const Answer<StartupReply>& answer, const GameCallback& callback) {
  const HttpResp& resp = answer.resp;
  // Exit cut the start-up short.
  if (resp.code == results::kProcessExit.code && c_.steam.Exited()) {
    Report(callback, results::kSteamInitFailure);
    return;
  }
  if (const StartupReply* startup = answer.Ok()) {
    if (startup->testDevice) ConfigureLogger(true);
    isInit_ = true;
    c_.pay.QueryProducts(GameCallback());
    // A state file that cannot be read may well hold the flag: attributing again would count
    // the install twice, so only a flag known to be 0 sends the request.
    const std::optional<reply::Json> appConfig = c_.store.TryReadConfigJson(false);
    if (appConfig && reply::IntegerOr<int64_t>(*appConfig, "AttributionFlag", 0) == 0) {
      c_.api.Post(calls::kAttribution, {}, [this](const Answer<EmptyReply>& reply) { HandleAttributionReply(reply.resp); });
    }
  }
  callback(resp.code, resp.msg, resp.data);
}

void CZarnCore::HandleAttributionReply(const HttpResp& resp) {
  if (resp.code != results::kSuccess) return;
  c_.store.UpdateConfigJson(false, [](reply::Json& config) {
    config["AttributionFlag"] = 1;
    return true;
  });
  LOG(INFO) << "Send Attribution Success.";
}

// ---------------------------------------------------------------------------- other operations

bool CZarnCore::Admit(unsigned admission, const GameCallback& callback) {
  if ((admission & kStarted) != 0 && !isInit_) {
    Report(callback, results::kNotInit);
    return false;
  }
  // The workers are gone after Exit: the request could never be answered.
  if ((admission & kNotExited) != 0 && c_.steam.Exited()) {
    Report(callback, results::kProcessExit);
    return false;
  }
  if ((admission & kLoggedIn) != 0 && !c_.session.IsLoggedIn()) {
    Report(callback, results::kNotLogin);
    return false;
  }
  return true;
}

void CZarnCore::LoginSteam(const GameCallback& callback) {
  // Exit is the ticket wait's to report.
  if (!Admit(calls::kLogin.admission, callback)) return;
  c_.steam.LoginSteam(c_.session.LoginGeneration(), callback);
}

void CZarnCore::CallPay(const std::string& productId, const std::string& extInfo, const GameCallback& callback) {
  // The product is checked by the payment object, once the catalogue is loaded.
  if (!Admit(calls::kCreateOrder.admission, callback)) return;
  c_.pay.CreateOrder(productId, extInfo, callback);
}

void CZarnCore::QueryProducts(const GameCallback& callback) {
  // Before start-up there is no app id or client id to sign the request with; a loaded
  // catalogue needs no request, so it answers after Exit too.
  unsigned admission = calls::kProducts.admission;
  if (c_.pay.Catalogue().Loaded()) admission &= ~unsigned{kNotExited};
  if (!Admit(admission, callback)) return;
  c_.pay.QueryProducts(callback);
}

bool CZarnCore::IsPayAvailable() { return isInit_ && c_.steam.IsPayAvailable(); }

void CZarnCore::Logout() {
  c_.session.Logout();
  LOG(INFO) << "Logout Success.";
}

void CZarnCore::Exit() {
  c_.stopParts();
  LOG(INFO) << "Excute Exit.";
}

void CZarnCore::SetServerId(const std::string& value) {
  c_.session.SetServerId(value);
  c_.track.UpdateGameUserInfo();
  LOG(INFO) << "Set Game User Info, SetServerId:" << value;
}

void CZarnCore::SetGameUserId(const std::string& value) {
  c_.session.SetGameUserId(value);
  c_.track.UpdateGameUserInfo();
  LOG(INFO) << "Set Game User Info, SetGameUserId:" << value;
}

void CZarnCore::SetNickName(const std::string& value) {
  c_.session.SetNickName(value);
  c_.track.UpdateGameUserInfo();
  LOG(INFO) << "Set Game User Info, SetNickName:" << value;
}

void CZarnCore::SetLevel(int32_t level) {
  c_.session.SetLevel(level);
  c_.track.UpdateGameUserInfo();
  LOG(INFO) << "Set Game User Info, SetLevel:" << level;
}

}  // namespace ZarnSdk
