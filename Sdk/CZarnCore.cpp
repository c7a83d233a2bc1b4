#include "Sdk/CZarnCore.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Sdk/CZarnPay.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/CZarnUser.h"
#include "Sdk/SteamSession.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnConfigUtils.h"
#include "Sdk/ZarnLog.h"
#include "Sdk/ZarnUtils.h"
#include "proxy/StringConvert.h"
#include "transport/WorkerPool.h"

namespace ZarnSdk {
namespace {

// "Steam初始化失败，必须先运行 steam 客户端才能开始游戏." (Steam failed to start; the Steam client
// must run before the game can start.)
constexpr const char kLogSteamInitFailed[] =
    "Steam\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA3\xAC\xB1\xD8\xD0\xEB\xCF\xC8\xD4\xCB\xD0\xD0"
    " steam \xBF\xCD\xBB\xA7\xB6\xCB\xB2\xC5\xC4\xDC\xBF\xAA\xCA\xBC\xD3\xCE\xCF\xB7"
    ".";
// "Steam初始化成功，开启异步线程进行steam消息循环..." (Steam started; starting the callback loop thread.)
constexpr const char kLogSteamInitOk[] =
    "Steam\xB3\xF5\xCA\xBC\xBB\xAF\xB3\xC9\xB9\xA6\xA3\xAC\xBF\xAA\xC6\xF4\xD2\xEC\xB2\xBD\xCF\xDF\xB3\xCC\xBD\xF8\xD0\xD0"
    "steam\xCF\xFB\xCF\xA2\xD1\xAD\xBB\xB7"
    "...";
// "Steam 消息循环 退出" (Steam callback loop ended.)
constexpr const char kLogPumpEnded[] = "Steam \xCF\xFB\xCF\xA2\xD1\xAD\xBB\xB7 \xCD\xCB\xB3\xF6";
// " Tictket：" (label with a full-width colon)
constexpr const char kLogTicketLabel[] = " Tictket\xA3\xBA";
// "ticket 已响应，状态：" (ticket answered, status:)
constexpr const char kLogTicketAnswered[] = "ticket \xD2\xD1\xCF\xEC\xD3\xA6\xA3\xAC\xD7\xB4\xCC\xAC\xA3\xBA";
// "Ticket Response，Session:" (full-width comma)
constexpr const char kLogTicketResponse[] = "Ticket Response\xA3\xAC" "Session:";
// "Steam Pay Result Callback，AppID:" (full-width comma)
constexpr const char kLogPayCallback[] = "Steam Pay Result Callback\xA3\xAC" "AppID:";

constexpr std::chrono::milliseconds kPumpPeriod{200};
constexpr int kTicketBufferSize = 4096;

// Sleeps the full period on the monotonic clock, even across early wake-ups.
void SleepFor(std::chrono::milliseconds period) {
  const auto deadline = std::chrono::steady_clock::now() + period;
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
}

std::string HexLower(const unsigned char* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

// The integer value of a JSON member that should hold a number; a boolean counts as 0 or 1.
// Anything else (absent, text, null, array, object) gives `fallback`.
int64_t IntegerMember(const nlohmann::json& doc, const char* key, int64_t fallback) {
  if (!doc.is_object()) return fallback;
  const auto it = doc.find(key);
  if (it == doc.end()) return fallback;
  if (it->is_boolean()) return it->get<bool>() ? 1 : 0;
  if (it->is_number_unsigned()) return static_cast<int64_t>(it->get<uint64_t>());
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_number_float()) {
    const double v = it->get<double>();
    if (std::isfinite(v) && std::fabs(v) < 9.2e18) return static_cast<int64_t>(v);
    return fallback;
  }
  return fallback;
}

}  // namespace

CZarnCore& CZarnCore::Instance() {
  // Never destroyed: detached threads (pump, ticket waits, workers) may run until the process ends.
  static CZarnCore* const core = new CZarnCore();
  return *core;
}

CZarnCore::CZarnCore()
    : authTicketCallback_(this, &CZarnCore::OnAuthSessionTicketResponse),
      microTxnCallback_(this, &CZarnCore::OnMicroTxnAuthorizationResponse) {}

// ------------------------------------------------------------------------------------ start-up

void CZarnCore::InitSdk(std::string appId, std::string appKey, ResultCallback callback) {
  if (isInit) {
    InvokeCallback(callback, 200, L"Sdk already init.", L"");
    return;
  }
  std::unique_lock<std::mutex> lock(initMutex_);
  if (isInit) {
    lock.unlock();
    InvokeCallback(callback, 200, L"Sdk already init.", L"");
    return;
  }
  ConfigureLogger(false);
  // After Exit Steam has been shut down for good; InitSteam refuses to touch it again.
  if (!InitSteam()) {
    isInit = false;
    lock.unlock();
    InvokeCallback(callback, -402, L"Steam Init Failure!", L"");
    return;
  }
  InitGlobalParams(std::move(appId), std::move(appKey));
  // A repeated Init (the first start-up reply failed or is still outstanding) reuses the running
  // pool instead of starting it twice.
  if (!poolStarted_) {
    sion::WorkerPool::Instance().Start();
    poolStarted_ = true;
  }
  CZarnTrack::Instance().Init();
  CZarnTrack::Instance().PostEvent("qzk_startup", "", std::numeric_limits<double>::quiet_NaN());
  ZarnApi::PostClientConfig([this, callback](HttpResp resp) { HandleStartupReply(resp, callback); });
}

void CZarnCore::InitGlobalParams(std::string appId, std::string appKey) {
  // The client id may touch the disk: compute it before taking the state lock.
  std::string clientId = ZarnUtils::GetClientId();
  const auto steamAppId = RecordedSteamAppId();
  GlobalParams params;
  params.appId = std::move(appId);
  params.appKey = std::move(appKey);
  params.os = "Windows";  // a wire constant the server keys on, the same on every platform
  params.sdkVer = kSdkVersion;
  params.sdkType = "html5";
  params.clientId = std::move(clientId);
  params.runPlatform = "html5";
  params.gamePlatform = "steam";
  params.steamAppId = steamAppId ? std::to_string(*steamAppId) : std::string();
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    globalParams_ = params;
  }
  LOG(INFO) << "Init AppId:" << params.appId << ",ClientId:" << params.clientId;
}

void CZarnCore::HandleStartupReply(const HttpResp& resp, ResultCallback callback) {
  if (resp.code == 200) {
    const auto data = nlohmann::json::parse(WideToUtf8(resp.data), nullptr, false);
    // A marker of another type than number or boolean counts as "not a test device".
    if (!data.is_discarded() && IntegerMember(data, "isTestDevice", 0) == 1) ConfigureLogger(true);
    isInit = true;
    CZarnPay::Instance().QueryProducts([](int, std::wstring, std::wstring) {});
    const auto appConfig = ZarnConfigUtils::ReadConfigJson(false);
    if (IntegerMember(appConfig, "AttributionFlag", 0) == 0) {
      ZarnApi::PostAttribution([this](HttpResp reply) { HandleAttributionReply(reply); });
    }
  }
  InvokeCallback(callback, resp.code, resp.msg, resp.data);
}

void CZarnCore::HandleAttributionReply(const HttpResp& resp) {
  if (resp.code != 200) return;
  ZarnConfigUtils::UpdateConfigJson(false, [](nlohmann::json& config) { config["AttributionFlag"] = 1; });
  LOG(INFO) << "Send Attribution Success.";
}

// ------------------------------------------------------------------------------- Steam session

bool CZarnCore::InitSteam() {
  std::lock_guard<std::mutex> lock(steamMutex_);
  if (steamShutdown_) return false;
  // One pump per process, however often start-up is repeated.
  if (steamStarted_) return true;
  if (!SteamAPI_Init()) {
    LOG(ERROR) << kLogSteamInitFailed;
    return false;
  }
  steamStarted_ = true;
  RecordSteamAppId(SteamAPI_ISteamUtils_GetAppID(SteamUtils()));
  LOG(INFO) << kLogSteamInitOk;
  {
    std::lock_guard<std::mutex> pumpLock(pumpMutex_);
    pumpRunning_ = true;
  }
  std::thread(&CZarnCore::TaskSteamCallback, this).detach();
  return true;
}

void CZarnCore::TaskSteamCallback() {
  while (true) {
    {
      // Holding the Steam lock around the pump keeps Exit's shutdown from overlapping it.
      std::lock_guard<std::mutex> lock(steamMutex_);
      if (isExit || steamShutdown_) break;
      SteamAPI_RunCallbacks();
    }
    // The period on the monotonic clock; Exit cuts it short.
    const auto deadline = std::chrono::steady_clock::now() + kPumpPeriod;
    std::unique_lock<std::mutex> pumpLock(pumpMutex_);
    pumpCv_.wait_until(pumpLock, deadline, [this] { return isExit.load(); });
  }
  LOG(INFO) << kLogPumpEnded;
  {
    std::lock_guard<std::mutex> pumpLock(pumpMutex_);
    pumpRunning_ = false;
  }
  pumpCv_.notify_all();
}

void CZarnCore::LoginSteam(ResultCallback callback) {
  if (!isInit) {
    InvokeCallback(callback, -401, L"Sdk Not Init.", L"");
    return;
  }
  std::string steamId;
  std::string ticketHex;
  HAuthTicket handle = 0;
  {
    std::unique_lock<std::mutex> lock(steamMutex_);
    // After Exit the Steam library is shut down and must not be called again.
    if (isExit || steamShutdown_ || !steamStarted_) {
      lock.unlock();
      InvokeCallback(callback, -400, L"Process Exit!", L"");
      return;
    }
    ISteamUser* user = SteamUser();
    steamId = std::to_string(SteamAPI_ISteamUser_GetSteamID(user));
    std::vector<unsigned char> buffer(kTicketBufferSize, 0);
    uint32_t size = 0;
    handle = SteamAPI_ISteamUser_GetAuthSessionTicket(user, buffer.data(), kTicketBufferSize, &size, nullptr);
    ticketHex = HexLower(buffer.data(), std::min<size_t>(size, buffer.size()));
  }
  LOG(INFO) << "loginSteam Session:" << handle << kLogTicketLabel << ticketHex;
  std::thread(&CZarnCore::TaskCheckSteamAuth, this, std::move(steamId), handle, std::move(ticketHex), callback)
      .detach();
}

void CZarnCore::TaskCheckSteamAuth(std::string steamId, HAuthTicket handle, std::string ticketHex,
                                   ResultCallback callback) {
  const std::chrono::milliseconds period{ticketPollPeriodMs_.load()};
  const int maxPolls = ticketMaxPolls_.load();
  int polls = 0;
  int32_t status = 0;
  while (true) {
    if (isExit) {
      InvokeCallback(callback, -400, L"Process Exit!", L"");
      return;
    }
    SleepFor(period);
    ++polls;
    status = TicketResult(handle);
    if (status != 0) {
      LOG(INFO) << kLogTicketAnswered << status;
      break;
    }
    if (polls >= maxPolls) break;
  }
  if (isExit) {
    InvokeCallback(callback, -400, L"Process Exit!", L"");
    return;
  }
  if (status == 0) {
    InvokeCallback(callback, -403, L"Steam Ticket TimeOut!", L"");
  } else if (status == k_EResultOK) {
    std::function<void(std::string, std::string, ResultCallback)> login;
    {
      std::lock_guard<std::mutex> lock(hooksMutex_);
      login = hooks_.login;
    }
    if (login) {
      login(steamId, ticketHex, callback);
    } else {
      CZarnUser::Login(steamId, ticketHex, callback);
    }
  } else {
    InvokeCallback(callback, -404, L"Steam Ticket Auth Failure!", L"");
  }
  ResetTicketResult(handle);
}

int32_t CZarnCore::TicketResult(HAuthTicket handle) {
  std::lock_guard<std::mutex> lock(ticketMutex_);
  return authTicketResults_[handle];
}

void CZarnCore::ResetTicketResult(HAuthTicket handle) {
  std::lock_guard<std::mutex> lock(ticketMutex_);
  // The wait is over: drop the entry instead of keeping a zero for every login of the session.
  authTicketResults_.erase(handle);
}

void CZarnCore::OnAuthSessionTicketResponse(GetAuthSessionTicketResponse_t* response) {
  if (response == nullptr) return;
  LOG(INFO) << kLogTicketResponse << response->m_hAuthTicket << ", eResult:" << static_cast<int32_t>(response->m_eResult);
  std::lock_guard<std::mutex> lock(ticketMutex_);
  authTicketResults_[response->m_hAuthTicket] = static_cast<int32_t>(response->m_eResult);
}

void CZarnCore::OnMicroTxnAuthorizationResponse(MicroTxnAuthorizationResponse_t* response) {
  if (response == nullptr) return;
  const std::string appId = std::to_string(response->m_unAppID);
  const std::string authorized = std::to_string(static_cast<int>(response->m_bAuthorized));
  const std::string orderId = std::to_string(response->m_ulOrderID);
  LOG(INFO) << kLogPayCallback << appId << ", Authorized:" << authorized << ", SteamOrderID:" << orderId;
  std::function<void(std::string, std::string)> payResult;
  {
    std::lock_guard<std::mutex> lock(hooksMutex_);
    payResult = hooks_.payResult;
  }
  if (payResult) {
    payResult(authorized, orderId);
  } else {
    CZarnPay::Instance().PayResult(authorized, orderId);
  }
}

// ---------------------------------------------------------------------------- other operations

void CZarnCore::CallPay(std::string productId, std::string extInfo, ResultCallback callback) {
  if (!isInit) {
    InvokeCallback(callback, -401, L"Sdk Not Init.", L"");
    return;
  }
  if (!isLogin) {
    InvokeCallback(callback, -405, L"Not Login.", L"");
    return;
  }
  CZarnPay::Instance().CreateOrder(std::move(productId), std::move(extInfo), callback);
}

bool CZarnCore::IsPayAvailable() {
  if (!isInit) return false;
  std::lock_guard<std::mutex> lock(steamMutex_);
  if (isExit || steamShutdown_ || !steamStarted_) return false;
  return SteamAPI_ISteamUtils_IsOverlayEnabled(SteamUtils());
}

void CZarnCore::Logout() {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    player_.userId = "-1";
    player_.token.clear();
    player_.gameUserId.clear();
    player_.level = 0;
    player_.nickName.clear();
    player_.serverId.clear();
    isLogin = false;
  }
  LOG(INFO) << "Logout Success.";
}

void CZarnCore::Exit() {
  isExit = true;
  {
    std::lock_guard<std::mutex> lock(steamMutex_);
    if (!steamShutdown_) {
      steamShutdown_ = true;
      SteamAPI_Shutdown();
    }
  }
  {
    std::unique_lock<std::mutex> pumpLock(pumpMutex_);
    pumpCv_.notify_all();
    pumpCv_.wait_for(pumpLock, std::chrono::seconds(2), [this] { return !pumpRunning_; });
  }
  sion::WorkerPool::Instance().Stop();
  LOG(INFO) << "Excute Exit.";
}

void CZarnCore::SetServerId(std::string value) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    player_.serverId = value;
  }
  CZarnTrack::Instance().UpdateGameUserInfo();
  LOG(INFO) << "Set Game User Info, SetServerId:" << value;
}

void CZarnCore::SetGameUserId(std::string value) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    player_.gameUserId = value;
  }
  CZarnTrack::Instance().UpdateGameUserInfo();
  LOG(INFO) << "Set Game User Info, SetGameUserId:" << value;
}

void CZarnCore::SetNickName(std::string value) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    player_.nickName = value;
  }
  CZarnTrack::Instance().UpdateGameUserInfo();
  LOG(INFO) << "Set Game User Info, SetNickName:" << value;
}

void CZarnCore::SetLevel(int32_t level) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    player_.level = level;
  }
  CZarnTrack::Instance().UpdateGameUserInfo();
  LOG(INFO) << "Set Game User Info, SetLevel:" << level;
}

// -------------------------------------------------------------------------------- shared views

GlobalParams CZarnCore::GetGlobalParams() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return globalParams_;
}

PlayerState CZarnCore::GetPlayerState() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return player_;
}

std::string CZarnCore::GetUserId() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return player_.userId;
}

void CZarnCore::StoreLogin(std::string token, std::string userId) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  player_.token = std::move(token);
  player_.userId = std::move(userId);
  isLogin = true;
}

std::optional<uint32_t> CZarnCore::SteamAppId() const { return RecordedSteamAppId(); }

void CZarnCore::SetHooksForTests(Hooks hooks) {
  std::lock_guard<std::mutex> lock(hooksMutex_);
  hooks_ = std::move(hooks);
}

void CZarnCore::SetTicketWaitForTests(std::chrono::milliseconds period, int maxPolls) {
  ticketPollPeriodMs_ = period.count();
  ticketMaxPolls_ = maxPolls;
}

}  // namespace ZarnSdk
