// The SDK core: global parameters, flags, player state, start-up, and the Steam session
// (callback pump, authentication ticket wait, purchase authorisations), Logout and Exit.
//
// Threads that enter here: the game's threads (exports), the Steam callback pump, one ticket
// wait thread per Login, and the HTTP workers (start-up and attribution replies, login reply).
//
// Locking (no lock is ever held while a game callback runs or while a request is sent):
//   initMutex_    serialises InitSdk against itself.
//   stateMutex_   guards globalParams_, the player-state texts and level.
//   steamMutex_   guards every call into the Steam client library and steamShutdown_: the pump
//                 holds it around SteamAPI_RunCallbacks, Exit around SteamAPI_Shutdown, so no
//                 Steam call overlaps the shutdown and none follows it.
//   ticketMutex_  guards authTicketResults_.
// The four flags are atomics.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "Sdk/HttpResp.h"
#include "ZarnProxy.h"
#include "steam/steam_api_subset.h"

namespace ZarnSdk {

// The application's, SDK's and device's identity texts, filled once by InitGlobalParams.
struct GlobalParams {
  std::string appId;
  std::string appKey;
  std::string os;
  std::string sdkVer;
  std::string sdkType;
  std::string clientId;
  std::string runPlatform;
  std::string gamePlatform;
  std::string steamAppId;
};

// A consistent copy of the player's state.
struct PlayerState {
  std::string serverId;
  std::string gameUserId;
  std::string nickName;
  int32_t level = 0;
  std::string token;
  std::string userId = "-1";
};

inline constexpr const char* kSdkVersion = "SteamEXE_2.0.0";

class CZarnCore {
 public:
  // The process-wide core; created on first use (the shared library touches it at load) and
  // never destroyed, so detached threads may keep using it until the process ends.
  static CZarnCore& Instance();

  // ---- behind the exports
  void InitSdk(std::string appId, std::string appKey, ResultCallback callback);
  void LoginSteam(ResultCallback callback);
  void CallPay(std::string productId, std::string extInfo, ResultCallback callback);
  bool IsPayAvailable();
  void Logout();
  void Exit();
  void SetServerId(std::string value);
  void SetGameUserId(std::string value);
  void SetNickName(std::string value);
  void SetLevel(int32_t level);

  // ---- steps of start-up and the Steam session
  void InitGlobalParams(std::string appId, std::string appKey);
  bool InitSteam();
  void TaskSteamCallback();
  void TaskCheckSteamAuth(std::string steamId, HAuthTicket handle, std::string ticketHex, ResultCallback callback);
  void OnAuthSessionTicketResponse(GetAuthSessionTicketResponse_t* response);
  void OnMicroTxnAuthorizationResponse(MicroTxnAuthorizationResponse_t* response);
  void HandleStartupReply(const HttpResp& resp, ResultCallback callback);
  void HandleAttributionReply(const HttpResp& resp);

  // ---- thread-safe views for the other parts of the SDK
  GlobalParams GetGlobalParams() const;
  PlayerState GetPlayerState() const;
  std::string GetUserId() const;
  // A successful login: stores token and user id, then sets isLogin.
  void StoreLogin(std::string token, std::string userId);
  // The running game's Steam application id, known once Steam started; never calls Steam.
  std::optional<uint32_t> SteamAppId() const;

  std::atomic<bool> isInit{false};
  std::atomic<bool> isLogin{false};
  std::atomic<bool> productsLoaded{false};
  std::atomic<bool> isExit{false};

  // ---- test seams: tests replace these to observe what the Steam session hands on.
  struct Hooks {
    std::function<void(std::string steamId, std::string ticketHex, ResultCallback)> login;
    std::function<void(std::string authorized, std::string steamOrderId)> payResult;
  };
  void SetHooksForTests(Hooks hooks);
  void SetTicketWaitForTests(std::chrono::milliseconds period, int maxPolls);

 private:
  CZarnCore();
  ~CZarnCore() = delete;

  int32_t TicketResult(HAuthTicket handle);
  void ResetTicketResult(HAuthTicket handle);

  std::mutex initMutex_;
  mutable std::mutex stateMutex_;
  GlobalParams globalParams_;
  PlayerState player_;

  std::mutex steamMutex_;
  bool steamStarted_ = false;   // guarded by steamMutex_
  bool steamShutdown_ = false;  // guarded by steamMutex_
  // The pump's end, awaited by Exit so that no SDK thread is left logging while the game's
  // process tears down its static objects.
  std::mutex pumpMutex_;
  std::condition_variable pumpCv_;
  bool pumpRunning_ = false;  // guarded by pumpMutex_
  bool poolStarted_ = false;    // guarded by initMutex_

  std::mutex ticketMutex_;
  std::unordered_map<HAuthTicket, int32_t> authTicketResults_;  // guarded by ticketMutex_

  std::mutex hooksMutex_;
  Hooks hooks_;  // guarded by hooksMutex_
  std::atomic<int64_t> ticketPollPeriodMs_{100};
  std::atomic<int> ticketMaxPolls_{100};

  CCallback<CZarnCore, GetAuthSessionTicketResponse_t> authTicketCallback_;
  CCallback<CZarnCore, MicroTxnAuthorizationResponse_t> microTxnCallback_;
};

// Calls a game callback unless it is null. Every SDK-made result goes through here.
inline void InvokeCallback(ResultCallback callback, int code, const std::wstring& msg, const std::wstring& data) {
  if (callback != nullptr) callback(code, msg, data);
}

}  // namespace ZarnSdk
