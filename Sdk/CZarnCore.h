// The SDK core behind the exports: start-up, the gates of Login and CallPay, the player's
// identity setters, Logout and Exit. The Steam session, payment, analytics and the request
// catalogue are its collaborators, handed in by the composition root (SdkInstance).
//
// Threads: the game's threads (every operation), HTTP workers (start-up and attribution
// replies). `initMutex_` serialises start-ups; it is the outermost lock of the SDK (taken
// before the Steam port's, the store's, the session's and the pool's) and is never held while
// a game callback runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "Sdk/CZarnPay.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/GameCallback.h"
#include "Sdk/HttpResp.h"
#include "Sdk/SessionState.h"
#include "Sdk/SteamSession.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnConfigUtils.h"
#include "platform/Mutex.h"
#include "transport/WorkerPool.h"

namespace ZarnSdk {

inline constexpr const char* kSdkVersion = "SteamEXE_2.0.0";

class CZarnCore {
 public:
  struct Collaborators {
    SessionState& session;
    ZarnConfigUtils& store;
    sion::WorkerPool& pool;
    ZarnApi& api;
    CZarnTrack& track;
    EventDelivery& delivery;
    CZarnPay& pay;
    SteamSession& steam;
    // Stops Steam, the workers and event delivery in the one safe order (SdkInstance's).
    std::function<void()> stopParts;
  };
  explicit CZarnCore(Collaborators c) : c_(std::move(c)) {}

  // Steam start, global parameters, workers, tracker, the start-up event and request; the
  // game hears the start-up reply. Refusals (-402, 200 "Sdk already init.") come at once.
  void InitSdk(const std::string& appId, const std::string& appKey, const GameCallback& callback) EXCLUDES(initMutex_);
  void LoginSteam(const GameCallback& callback);
  void CallPay(const std::string& productId, const std::string& extInfo, const GameCallback& callback);
  // The catalogue for the game: -401 before a successful start-up, -400 after Exit unless it
  // is already loaded.
  void QueryProducts(const GameCallback& callback);
  // A call the game makes of the server with nothing kept on this side: admitted by its entry's
  // checks, then the answer reaches `callback` as ZarnApi gives it (data the whole reply).
  template <typename Reply>
  void CallForGame(const ServerCall<Reply>& call, const FormValues& values, const GameCallback& callback) {
    if (!Admit(call.admission, callback)) return;
    c_.api.Post(call, values, [callback](const Answer<Reply>& a) { callback(a.resp.code, a.resp.msg, a.resp.data); });
  }
  bool IsPayAvailable();
  void Logout();
  // Steam shut down, the workers stopped and awaited, undelivered events kept in the outbox
  // (stopParts). Nothing is reset.
  void Exit();
  void SetServerId(const std::string& value);
  void SetGameUserId(const std::string& value);
  void SetNickName(const std::string& value);
  void SetLevel(int32_t level);

 private:
  // Steam, the state files, the global parameters, the workers, event delivery and the
  // tracker; false when one could not be started (what did start stays for the next try).
  bool StartLocked(const std::string& appId, const std::string& appKey) REQUIRES(initMutex_);
  void InitGlobalParams(const std::string& appId, const std::string& appKey);
  void HandleStartupReply(const Answer<StartupReply>& answer, const GameCallback& callback);
  // Whether the checks of `admission` (ServerCalls.h) hold; else the first failing one is
  // reported to `callback` on the calling thread.
  bool Admit(unsigned admission, const GameCallback& callback);
  void HandleAttributionReply(const HttpResp& resp);

  const Collaborators c_;
  std::atomic<bool> isInit_{false};
  zarnplatform::Mutex initMutex_;
  bool poolStarted_ GUARDED_BY(initMutex_) = false;
};

}  // namespace ZarnSdk
